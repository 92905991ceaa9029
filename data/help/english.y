Y - Binary files with YAPP

YW           lists the binary file area.
YD name      sends you a binary file with YAPP.
YU name      receives a binary file from you with YAPP.
YZ name      erases a binary file that you uploaded in this session.

Start the YAPP transfer of your terminal program when the BBS asks
for it.
