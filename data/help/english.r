R - Read messages

R n          reads message number n.
RV n         reads message n with all its routing lines.
RM           reads your new messages, one after the other.

A private message can be read by its sender and its addressee only.
