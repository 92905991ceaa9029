C - Continuous listing

C is not a command of its own. When a listing pauses after a page,
answer C: the rest of the listing, and every listing until you log
off, comes without pauses. Answer A to end the listing, or just
<Enter> for the next page.
