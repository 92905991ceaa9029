W - What files

W            lists the files and directories of the file area.
W dir        lists a subdirectory of the file area.

D name downloads a text file; YW lists the binary files.
