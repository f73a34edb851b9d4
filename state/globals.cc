#include "state/globals.h"

char* server_name = nullptr;
char* server_name_abbr = nullptr;
char* vaxelinipath = nullptr;
char* halcyon_home = nullptr;
char* binArch = nullptr;
char* vaxelloginclude = nullptr;
char* vaxellogexclude = nullptr;
char* instance_name = nullptr;
int qvd_check_db_interval = 0;
char* checkDbIncludePath = nullptr;
char* checkDbExcludePath = nullptr;
char* db_view_config_file = nullptr;
char* mvPort = nullptr;
char* nicHostname = nullptr;
char* port_number = nullptr;
char statusFileName[1024];
VxLocaleFormat intl_format;
long mveventpid = 0;
std::atomic<long> responsetime{0};
std::atomic<bool> qvdShutdown{false};
std::atomic<int> addInShutdown{0};
_ServerInfoBlock* GLOBAL_ServerInfoBlock = nullptr;
