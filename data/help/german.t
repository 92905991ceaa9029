T - Den Sysop rufen

T ruft den Sysop. Ist der Sysop an der Station, bekommst Du gleich
eine Antwort; sonst hinterlasse ihm bitte eine Nachricht mit SP.
