// The one table of external programs the agent starts. Tests point its
// entries at harmless stubs so that nothing real (reboot, halt, setting the
// clock) ever runs from a test.
#pragma once

#include <string>

struct ExternalPrograms {
    std::string reboot = "/sbin/reboot";
    std::string halt = "/sbin/halt";
    std::string date_set = "/bin/date -s";  // followed by the new date
    std::string ntp = "/etc/cron.daily/ntp";
    std::string uptime = "/usr/bin/uptime";
    std::string uname = "uname -rmi";
    std::string touch = "touch";
    std::string patch = "patch -fs";
    std::string diff = "diff";  // started with an argument vector
    std::string rm = "rm";
    std::string tempfile = "/bin/tempfile";
    std::string iconv = "/usr/bin/iconv";
    std::string storage_script = "calcul_storage.pl";  // in the scripts folder
};

// The process-wide table, read once. Each entry can be replaced by the
// environment variable "ZELAGENT_PROGRAM_" + its upper-case name (for
// instance ZELAGENT_PROGRAM_REBOOT). Not locked: tests change it before
// threads start.
ExternalPrograms& external_programs();
