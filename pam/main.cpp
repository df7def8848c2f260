// pam-session: run by pam_exec, from the tallix PAM profile, as a session
// opens and after a password was taken; pam/pamstep.h tells what it does.

#include "pam/pamstep.h"

#include <unistd.h>

int main()
{
    const PamStep::Context context;
    const PamStep::Step step = PamStep::step(context);
    // pam_exec waits for this process only: a locker's answer waits on
    // nothing more than the fork.
    if (step == PamStep::Step::Login)
        PamStep::login(context);
    else if (step == PamStep::Step::Unlock && ::fork() == 0)
        PamStep::unlock(context);
    return 0;
}
