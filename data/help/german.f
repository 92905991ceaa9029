F - Hierarchische Adresse

F Adresse    setzt Deine hierarchische Adresse, den Regionsteil einer
             Postadresse, z.B. F #NRW.DEU.EU (höchstens 39 Zeichen).

Post an Dich wird dann an deinrufzeichen.#NRW.DEU.EU adressiert, und
Stationen, die diese BBS als Heimat-BBS angeben (M), erhalten ihre
Adresse auf dieselbe Weise.
