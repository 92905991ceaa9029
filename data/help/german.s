S - Nachricht senden

S Call       sendet eine Nachricht an Call.
SP Call      sendet eine private Nachricht an Call.
SB An        sendet ein Bulletin, z.B. SB ALL @ WW.

Nach dem Empfänger kannst Du angeben:
  @ BBS      die BBS des Empfängers, z.B. @ XX1BBS.#NRW.DEU.EU
  $ BID      die Bulletin-ID, höchstens 12 Zeichen (wo erlaubt)

Die BBS fragt nach dem Betreff und dann nach dem Text. Beende den Text
mit einer Zeile, die /EX enthält, oder mit Strg-Z.
