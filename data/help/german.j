J - Nicht belegt

J tut auf dieser BBS nichts; es antwortet nur mit einer leeren Zeile.
