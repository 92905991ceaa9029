D - Textdatei herunterladen

D Name       sendet Dir die Textdatei "Name" aus dem Dateibereich.
D Verz\Name  sendet eine Datei aus einem Unterverzeichnis.

Dateinamen haben höchstens 12 Zeichen. W listet die Dateien auf. Sende
A, um einen Download abzubrechen. Binärdateien kommen mit YAPP: siehe
H Y.
