S - Send a message

S call       sends a message to call.
SP call      sends a private message to call.
SB to        sends a bulletin, for example SB ALL @ WW.

After the addressee you may add:
  @ bbs      the addressee's BBS, for example @ XX1BBS.#NRW.DEU.EU
  $ bid      the bulletin ID, at most 12 characters (where allowed)

The BBS asks for the subject and then for the text. End the text with
a line that holds /EX, or with Ctrl-Z.
