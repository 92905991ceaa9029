E - Ending a text

E is not a command of its own. When you send a message (S) or upload
a text file (U), end the text with a line that holds /EX, or with
Ctrl-Z followed by <Enter>.
