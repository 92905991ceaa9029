G - Sprache

G?           zeigt die Sprachen dieser BBS.
G Name       wechselt Deine Sprache, z.B. G ENGLISH.

Deine Sprache bleibt für Deine nächsten Besuche erhalten. Hilfetexte
(H) kommen in Deiner Sprache, soweit der Sysop sie hat.
