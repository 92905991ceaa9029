H - Hilfe

H            zeigt die Befehle.
H Buchstabe  erklärt einen Befehl, z.B. H L.
