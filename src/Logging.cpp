#include "Logging.h"

Q_LOGGING_CATEGORY(lcStartup, "zark.startup")
Q_LOGGING_CATEGORY(lcNetwork, "zark.network")
Q_LOGGING_CATEGORY(lcUpdate, "zark.update")
