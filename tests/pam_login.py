#!/usr/bin/env python3
"""A login as login(1) makes one, without its terminal: PAM's login service
opens a session of USER on TTY, COMMAND runs there as USER with the session's
environment, and the session closes when it ends. pam_systemd reads the
session's type, class, seat and VT from XDG_SESSION_TYPE and the like.

pam_login.py USER TTY COMMAND...    (as root)
"""
import ctypes
import os
import pwd
import sys

PAM_TTY = 3
PAM_ESTABLISH_CRED = 0x2
PAM_DELETE_CRED = 0x4
PAM_PROMPT_ECHO_OFF, PAM_PROMPT_ECHO_ON, PAM_ERROR_MSG, PAM_TEXT_INFO = 1, 2, 3, 4

libc = ctypes.CDLL(None)
libc.calloc.restype = ctypes.c_void_p
libc.calloc.argtypes = [ctypes.c_size_t, ctypes.c_size_t]
libpam = ctypes.CDLL("libpam.so.0")
libpam.pam_strerror.restype = ctypes.c_char_p
libpam.pam_getenvlist.restype = ctypes.POINTER(ctypes.c_char_p)


class Message(ctypes.Structure):
    _fields_ = [("style", ctypes.c_int), ("text", ctypes.c_char_p)]


class Response(ctypes.Structure):
    _fields_ = [("resp", ctypes.c_char_p), ("retcode", ctypes.c_int)]


CONVERSE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.POINTER(Message)),
                            ctypes.POINTER(ctypes.c_void_p), ctypes.c_void_p)


class Conversation(ctypes.Structure):
    _fields_ = [("converse", CONVERSE), ("data", ctypes.c_void_p)]


@CONVERSE
def converse(count, messages, responses, _data):
    # Nobody types here: what the modules say goes to stderr, a question
    # gets no answer. PAM frees the answers, so libc allocates them.
    for i in range(count):
        message = messages[i].contents
        if message.style in (PAM_PROMPT_ECHO_OFF, PAM_PROMPT_ECHO_ON):
            return 19  # PAM_CONV_ERR
        print(message.text.decode(errors="replace"), file=sys.stderr)
    responses[0] = libc.calloc(max(count, 1), ctypes.sizeof(Response))
    return 0


def main():
    user, tty, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    account = pwd.getpwnam(user)
    handle = ctypes.c_void_p()
    conversation = Conversation(converse, None)

    def check(what, result):
        if result != 0:
            sys.exit(f"pam_login: {what}: {libpam.pam_strerror(handle, result).decode()}")

    check("pam_start", libpam.pam_start(b"login", user.encode(), ctypes.byref(conversation), ctypes.byref(handle)))
    check("PAM_TTY", libpam.pam_set_item(handle, PAM_TTY, ctypes.c_char_p(tty.encode())))
    check("account", libpam.pam_acct_mgmt(handle, 0))
    check("credentials", libpam.pam_setcred(handle, PAM_ESTABLISH_CRED))
    check("session", libpam.pam_open_session(handle, 0))
    environment = {"HOME": account.pw_dir, "USER": user, "LOGNAME": user, "SHELL": account.pw_shell,
                   "PATH": "/usr/local/bin:/usr/bin:/bin", "TERM": "dumb"}
    listed = libpam.pam_getenvlist(handle)
    i = 0
    while listed[i]:
        name, _, value = listed[i].decode().partition("=")
        environment[name] = value
        i += 1
    child = os.fork()
    if child == 0:
        try:
            os.initgroups(user, account.pw_gid)
            os.setgid(account.pw_gid)
            os.setuid(account.pw_uid)
            os.chdir(account.pw_dir)
            os.execvpe(command[0], command, environment)
        finally:
            os._exit(127)
    _, status = os.waitpid(child, 0)
    libpam.pam_close_session(handle, 0)
    libpam.pam_setcred(handle, PAM_DELETE_CRED)
    libpam.pam_end(handle, 0)
    sys.exit(os.waitstatus_to_exitcode(status))


main()
