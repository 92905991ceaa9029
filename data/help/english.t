T - Talk to the sysop

T pages the sysop. When the sysop is at the station you get an answer
shortly; otherwise please leave a message with SP.
