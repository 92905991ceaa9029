Über diese BBS

Diese Mailbox läuft mit ornbbs 7.10, einer packet-radio-BBS für
mehrere Ports und Sprachen. Sie speichert private Post und Bulletins,
leitet sie an andere BBSen weiter und hat einen Dateibereich für
Textdateien (W, D, U) und für Binärdateien mit YAPP (YW, YD, YU).

Der Sysop hat diese BBS noch nicht beschrieben: dieser Text steht in
der Datei german.i im BBS-Verzeichnis.
