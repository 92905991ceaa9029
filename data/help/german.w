W - Welche Dateien

W            listet die Dateien und Verzeichnisse des Dateibereichs auf.
W Verz       listet ein Unterverzeichnis des Dateibereichs auf.

D Name lädt eine Textdatei herunter; YW listet die Binärdateien auf.
