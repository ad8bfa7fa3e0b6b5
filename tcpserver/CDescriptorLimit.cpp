#include "CDescriptorLimit.h"

#include <QtGlobal>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

bool CDescriptorLimit::raiseToHardLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
        return true;
#ifdef OPEN_MAX
    // Some systems report an unlimited hard limit but refuse more than OPEN_MAX.
    raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, OPEN_MAX);
    if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0)
        return true;
#endif
    return false;
#else
    return true;
#endif
}

long long CDescriptorLimit::softLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 0;
    return static_cast<long long>(limit.rlim_cur);
#else
    return 0;
#endif
}

int CDescriptorLimit::connectionBound(int listeningPorts)
{
    const long long soft = softLimit();
    if (soft <= 0)
        return UnlimitedBound;
    return int(std::clamp<long long>(soft - ReservedDescriptors - qMax(0, listeningPorts), 1,
                                     UnlimitedBound));
}
