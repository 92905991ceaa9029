R - Nachrichten lesen

R n          liest die Nachricht Nummer n.
RV n         liest die Nachricht n mit allen Routing-Zeilen.
RM           liest Deine neuen Nachrichten, eine nach der anderen.

Eine private Nachricht können nur ihr Absender und ihr Empfänger
lesen.
