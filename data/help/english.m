M - Home BBS

M call       sets your home BBS, the BBS where you collect your mail,
             for example M XX1BBS. Mail for you is forwarded there.

When that BBS is known here, its hierarchical address is added.
