About this BBS

This MailBox runs ornbbs 7.10, a multi-port, multi-language
packet-radio BBS. It keeps private mail and bulletins, forwards them
to other BBSes, and has a file area for text files (W, D, U) and for
binary files with YAPP (YW, YD, YU).

The sysop has not described this BBS yet: this text is in the file
english.i of the BBS directory.
