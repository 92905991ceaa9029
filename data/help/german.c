C - Liste ohne Pausen

C ist kein eigener Befehl. Wenn eine Liste nach einer Seite anhält,
antworte C: der Rest der Liste und jede weitere Liste bis zum
Abmelden kommen ohne Pausen. A beendet die Liste, <Enter> allein
zeigt die nächste Seite.
