F - Hierarchical address

F address    sets your hierarchical address: the region part of a mail
             address, for example F #NRW.DEU.EU (at most 39 characters).

Mail for you is then addressed as yourcall.#NRW.DEU.EU, and stations
that give this BBS as their home BBS (M) get its address the same way.
