M - Heimat-BBS

M Call       setzt Deine Heimat-BBS, die BBS, in der Du Deine Post
             abholst, z.B. M XX1BBS. Post an Dich wird dorthin
             weitergeleitet.

Ist diese BBS hier bekannt, wird ihre hierarchische Adresse ergänzt.
