// The first look at this run's setup description, from the system's files.
#pragma once

// Whether the run's setup description says allowintervention=FALSE: the
// file named with "-inf " (`setupPath`, absolute; null when none), else
// any ".inf" in the package of the program at `programPath`.
int SetupForbidsIntervention(const char* programPath, const char* setupPath);
