G - Language

G?           lists the languages of this BBS.
G name       changes your language, for example G GERMAN.

Your language is kept for your next visits. Help texts (H) come in
your language where the sysop has them.
