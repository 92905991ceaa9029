K - Kill messages

K n          kills message number n, when it is to you or from you.
KM           kills the messages to you that you have read; unread
             messages stay.
