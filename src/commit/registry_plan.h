// The registry changes of a run's commit, worked out before any is made.
// The shared-usage stage plans every change here; reads during planning see
// the machine as the changes planned so far would leave it. The plan keeps,
// for every value and key it touches, how it was before the first change, so
// that the journal can restore it.
#ifndef WF_COMMIT_REGISTRY_PLAN_H
#define WF_COMMIT_REGISTRY_PLAN_H

#include "platform/win32.h"

// Every key here is a path under HKEY_LOCAL_MACHINE. Values of up to
// MAX_PATH bytes can be planned and restored; a longer one fails its step.
#define PLANNED_DATA_SIZE MAX_PATH

// Forgets every planned change and original.
void ResetRegistryPlan(void);

// What a value reads once the planned changes are made: 1 with its type,
// data and size (data holds PLANNED_DATA_SIZE bytes), 0 when it would not
// exist, -1 when it cannot be read (longer than PLANNED_DATA_SIZE, or a
// failed query). `name` "" is the key's default value.
int PlannedValue(LPCSTR key, LPCSTR name, DWORD *type, BYTE *data, DWORD *size);
// 1 when the key can be opened now with `access`.
int CanOpenKey(LPCSTR key, REGSAM access);
// 1 when the key would exist once the planned changes are made.
int PlannedKeyExists(LPCSTR key);

// Plan one change; 0 when the plan is full, a path does not fit, or the
// original cannot be read whole (it could not be restored).
int PlanSetValue(LPCSTR key, LPCSTR name, DWORD type, const BYTE *data, DWORD size);
int PlanSetText(LPCSTR key, LPCSTR name, LPCSTR text);
int PlanDeleteValue(LPCSTR key, LPCSTR name);
int PlanCreateKey(LPCSTR key);
int PlanDeleteKey(LPCSTR key);  // the key must hold no subkeys

// Whether anything is planned.
int RegistryPlanIsEmpty(void);

// Makes the planned changes in order. 0 at the first that fails; the rest
// are not tried, and the journal undoes those made.
int ApplyRegistryPlan(void);

// The originals, one journal line each, through `emit` (0 stops the walk and
// is returned). Lines end in "\r\n":
//   K <tab> 0|1 <tab> key                        the key existed before
//   V <tab> 0|1 <tab> type <tab> hex <tab> key <tab> name
//                                                 the value before (1: existed)
int JournalRegistryOriginals(int (*emit)(LPCSTR line));

#endif
