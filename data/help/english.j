J - Not in use

J does nothing on this BBS; it only answers with an empty line.
