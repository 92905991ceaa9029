I - Informationen

I zeigt die Informationen, die der Sysop über diese BBS geschrieben
hat.
