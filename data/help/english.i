I - Information

I shows the information that the sysop has written about this BBS.
