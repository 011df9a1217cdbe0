// The directory layout, file paths and run flags of this process, built once
// from argv at start-up.
#pragma once

#include "foundation/ProcessLayout.h"

class Resource {
public:
    // Finds the executable from argv[0] (one level of symbolic link resolved),
    // changes the working directory to its folder and builds every path.
    Resource(int argc, char** argv);
    // `folders` points into the object itself.
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    char update_program[400];
    char program_path[400];
    char app_dir[400];
    char conf_dir[400];
    char data_dir[400];
    char logs_dir[400];
    char scripts_dir[400];
    char restore_dir[400];
    char lock_dir[400];
    char plugins_dir[400];
    char config_file[400];
    char threads_file[400];
    char messages_file[400];
    char versions_file[400];
    char errors_file[400];
    char events_file[400];
    char debug_file[400];
    char version_text[20];
    char system_name[20];
    char default_version[20];
    char separator;
    int kill;
    bool virus_found;
    bool system_error;
    bool files_saved;
    bool files_restored;
    bool files_erased;
    int thinking;
    bool no_box;
    int open_for_input;
    int connect_threads;
    int argc;
    // The folders and files above as the foundation helpers see them; the
    // start-up hands them over (SetProcessFolders).
    ProcessFolders folders;
};

// The platform word the server knows this agent by.
const char* PlatformName();
