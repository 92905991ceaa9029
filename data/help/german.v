V - Version

V zeigt die Version der BBS und die Zahl der aktiven Nachrichten.
