B - Bye

B ends your session: the BBS says goodbye and disconnects you.
