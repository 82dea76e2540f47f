// The stand-in spooler driven step by step rather than by the clock, for
// tests whose outcome must not hang on the machine's pace. With
// PELKO_STANDIN_STEPS naming a file, a thread started at the first
// OpenPrinterA runs its steps, one a line, in order:
//   queues Q...                  the queues the steps speak of
//   ready                        waits until each has a change notification
//                                and has been listed after it
//   add Q LABEL USER PAGES [DETAIL...]
//                                a job (document LABEL), PAGES to print; each
//                                DETAIL "copies=3", "color=1" ... is how it
//                                asked to be printed (standin_winspool.cpp);
//                                "%20" in USER is a space
//   colordevice Q ANSWER         the printer's DC_COLORDEVICE: 1, 0 or -1
//   flash Q LABEL USER PAGES     a job added, printed and gone at once
//   hold LABEL / release LABEL   pauses the job / lets it print again
//   tick                         each queue prints a page of its first job
//                                that is not held; a job done ends
//   cancel LABEL                 the job, which must be printing, is deleted
//   restart [SECONDS]            once each queue has been listed, the spooler
//                                restarts: its jobs are gone (each ended
//                                with the pages it printed), the next is
//                                numbered 1 again, and its clock, which
//                                each job's Submitted is, SECONDS (60) later
//   look                         waits until each queue with jobs is listed
//   await FILE                   waits until the test makes FILE
// Before each step every change already told must have been taken in by
// its listener, as a spooler's buffer of changes would be by a watcher
// keeping up (an overflow is another test's matter). Every wait is bounded;
// one that ran out is written "timeout ..." to the result. Each ended job
// is appended to PELKO_STANDIN_RESULT as "QUEUE ID USER LABEL PAGES
// END_UNIX_MS", "awaiting FILE" before an await, and "done" at the end.
#pragma once

#include <windows.h>

void StartStepsOnce();

extern "C" {
DWORD StandInAddJob(const char* name, const char* user, const char* document);
DWORD StandInAddDetailedJob(const char* name, const char* user, const char* document, DWORD total,
                            const char* details);
void StandInSetColorDevice(const char* name, int answer);
void StandInPrintPages(const char* name, DWORD id, DWORD pages);
void StandInEndJob(const char* name, DWORD id);
void StandInRestart(DWORD laterSeconds);
void StandInSetStatus(const char* name, DWORD id, DWORD status);
DWORD StandInFlashJob(const char* name, const char* user, const char* document, DWORD pages);
long StandInEnumerations(const char* name);
DWORD StandInListeners(const char* name);
BOOL StandInNewsTaken(const char* name);
}
