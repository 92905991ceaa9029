D - Download a text file

D name       sends you the text file "name" from the file area.
D dir\name   sends a file from a subdirectory of the file area.

File names have at most 12 characters. W lists the files. Send A to
stop a download. Binary files come with YAPP instead: see H Y.
