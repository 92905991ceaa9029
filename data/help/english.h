H - Help

H            lists the commands.
H letter     explains one command, for example H L.
