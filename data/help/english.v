V - Version

V shows the version of the BBS and the number of active messages.
