K - Nachrichten löschen

K n          löscht die Nachricht Nummer n, wenn sie an Dich oder von
             Dir ist.
KM           löscht die Nachrichten an Dich, die Du gelesen hast;
             ungelesene bleiben erhalten.
