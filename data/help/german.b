B - Tschüss

B beendet Deine Sitzung: die BBS verabschiedet sich und trennt die
Verbindung.
