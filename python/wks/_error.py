"""The exception every failure of the library raises."""


class Error(Exception):
    """A failure of libwks.

    code: the library's error code (wks.h's WKS_E_* codes, or a converter's
    negative result); message: what failed, with the file's name;
    messages: what the library would have shown the user meanwhile.
    """

    def __init__(self, code, message, messages=()):
        super().__init__(code, message)
        self.code = code
        self.message = message
        self.messages = list(messages)

    def __str__(self):
        shown = "%s (library error %d)" % (self.message, self.code)
        return "; ".join([shown] + self.messages)
