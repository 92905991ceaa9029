E - Einen Text beenden

E ist kein eigener Befehl. Wenn Du eine Nachricht sendest (S) oder
eine Textdatei hochlädst (U), beende den Text mit einer Zeile, die
/EX enthält, oder mit Strg-Z und <Enter>.
