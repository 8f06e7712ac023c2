// Restarting Windows at the end of a good run.
#ifndef WF_APP_RESTART_H
#define WF_APP_RESTART_H

// Asks Windows to restart. On NT the process first enables its shutdown
// privilege, without which NT refuses the request. Results are not examined:
// the user has already been told that a restart is needed.
void RestartWindows(void);

#endif
