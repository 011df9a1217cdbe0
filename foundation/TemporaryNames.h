// Local files that stand for named non-file objects of a backup set.
#pragma once

// The local file for `object`, as a new 400-byte array the caller frees with
// delete[], or null for a name that stands for no file:
//   "SYSTEM_STATE"            -> data_dir "system_<number>.bkf"
//   "EXCHANGE|FULL|x|<db>"    -> app_dir "plugins\exchange\<db>\Exchange.bkf"
//   "EXCHANGE|MAILBOX|<box>|<db>" -> app_dir "plugins\exchange\<db>\<box>.PST"
//   "SHARE?<rest>"            -> app_dir "share|<rest>" (from the seventh character)
// The first three set `temporary`; "SHARE" leaves it alone. The two
// "EXCHANGE" forms split `object` in place (the "|" become NULs). A form
// that lacks a needed component gives null.
char* GetTemporaryFilename(char* object, unsigned int number, bool& temporary, void* unused);
