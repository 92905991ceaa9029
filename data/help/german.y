Y - Binärdateien mit YAPP

YW           listet den Bereich der Binärdateien auf.
YD Name      sendet Dir eine Binärdatei mit YAPP.
YU Name      empfängt eine Binärdatei von Dir mit YAPP.
YZ Name      löscht eine Binärdatei, die Du in dieser Sitzung
             hochgeladen hast.

Starte die YAPP-Übertragung Deines Terminalprogramms, sobald die BBS
dazu auffordert.
