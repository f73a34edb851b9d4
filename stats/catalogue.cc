// The catalogue's data: every group's name, columns, keywords and value
// slots, and the descriptor table in registration order.
#include "stats/catalogue.h"

#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("stats/catalogue");

namespace {

template <typename... Texts>
constexpr int countOf(Texts...) {
  return sizeof...(Texts);
}

}  // namespace

// ---------------------------------------------------------------------------
// Single-row statistics groups.  A "64" group has a descriptor and keyword
// array of its own (the override file changes it separately); some add
// columns after the ones they share with the group without "64".
// Every list is checked against the column count declared in the header
// (an array definition alone would silently pad a short list with nulls).

#define VELORA_CALENDAR_COLUMNS \
  "Server_Name", \
  "Total_All_Appts_Reservations", \
  "Total_All_Users_Resources", \
  "Total_Appts", \
  "Total_Reservations", \
  "Total_Resources", \
  "Total_Users"
#define VELORA_CALENDAR_KEYWORDS \
  "calendar.total.", \
  "calendar.total.all.appts.reservations\t", \
  "calendar.total.all.users.resources\t", \
  "calendar.total.appts\t", \
  "calendar.total.reservations\t", \
  "calendar.total.resources\t", \
  "calendar.total.users\t"
char Velora_Calendar_Handle[] = "Velora_Calendar";
char* Velora_Calendar[Velora_Calendar_ColumnCount];
const char* Velora_Calendar_Keyword[] = {VELORA_CALENDAR_KEYWORDS};
static_assert(countOf(VELORA_CALENDAR_KEYWORDS) == Velora_Calendar_ColumnCount, "Velora_Calendar keywords");
const char* const Velora_Calendar_Column[] = {VELORA_CALENDAR_COLUMNS};
static_assert(countOf(VELORA_CALENDAR_COLUMNS) == Velora_Calendar_ColumnCount, "Velora_Calendar columns");
char Velora_Calendar64_Handle[] = "Velora_Calendar64";
char* Velora_Calendar64[Velora_Calendar64_ColumnCount];
const char* Velora_Calendar64_Keyword[] = {VELORA_CALENDAR_KEYWORDS};
static_assert(countOf(VELORA_CALENDAR_KEYWORDS) == Velora_Calendar64_ColumnCount, "Velora_Calendar64 keywords");
const char* const Velora_Calendar64_Column[] = {VELORA_CALENDAR_COLUMNS};
static_assert(countOf(VELORA_CALENDAR_COLUMNS) == Velora_Calendar64_ColumnCount, "Velora_Calendar64 columns");

#define VELORA_LDAP_COLUMNS \
  "Server_Name", \
  "Server_Running", \
  "Sess_Inbound_Accept_Queue", \
  "Sess_Inbound_Active", \
  "Sess_Inbound_Active_SSL", \
  "Sess_Inbound_Bytes_Received", \
  "Sess_Inbound_Bytes_Sent", \
  "Sess_Inbound_Peak", \
  "Sess_Inbound_Peak_SSL", \
  "Sess_Inbound_Total", \
  "Sess_Inbound_Total_SSL", \
  "Sess_Inb_Tot_SSL_Bad_Hshake", \
  "Sess_Non_SSL", \
  "Sess_SSL", \
  "Sess_Total", \
  "Sess_Threads_Busy", \
  "Sess_Threads_Idle"
#define VELORA_LDAP_KEYWORDS \
  "ldap.", \
  "ldap.server.running\t", \
  "ldap.sessions.inbound.accept.queue\t", \
  "ldap.sessions.inbound.active\t", \
  "ldap.sessions.inbound.active.ssl\t", \
  "ldap.sessions.inbound.bytesreceived\t", \
  "ldap.sessions.inbound.bytessent\t", \
  "ldap.sessions.inbound.peak\t", \
  "ldap.sessions.inbound.peak.ssl\t", \
  "ldap.sessions.inbound.total\t", \
  "ldap.sessions.inbound.total.ssl\t", \
  "ldap.sessions.inbound.total.ssl.bad_handshake\t", \
  "ldap.sessions.non-ssl\t", \
  "ldap.sessions.ssl\t", \
  "ldap.sessions.total\t", \
  "ldap.sessions.threads.busy\t", \
  "ldap.sessions.threads.idle\t"
char Velora_LDAP_Handle[] = "Velora_LDAP";
char* Velora_LDAP[Velora_LDAP_ColumnCount];
const char* Velora_LDAP_Keyword[] = {VELORA_LDAP_KEYWORDS};
static_assert(countOf(VELORA_LDAP_KEYWORDS) == Velora_LDAP_ColumnCount, "Velora_LDAP keywords");
const char* const Velora_LDAP_Column[] = {VELORA_LDAP_COLUMNS};
static_assert(countOf(VELORA_LDAP_COLUMNS) == Velora_LDAP_ColumnCount, "Velora_LDAP columns");
char Velora_LDAP64_Handle[] = "Velora_LDAP64";
char* Velora_LDAP64[Velora_LDAP64_ColumnCount];
const char* Velora_LDAP64_Keyword[] = {VELORA_LDAP_KEYWORDS};
static_assert(countOf(VELORA_LDAP_KEYWORDS) == Velora_LDAP64_ColumnCount, "Velora_LDAP64 keywords");
const char* const Velora_LDAP64_Column[] = {VELORA_LDAP_COLUMNS};
static_assert(countOf(VELORA_LDAP_COLUMNS) == Velora_LDAP64_ColumnCount, "Velora_LDAP64 columns");

#define VELORA_MAIL_COLUMNS \
  "Server_Name", \
  "Dead", \
  "Average_Deliver_Time", \
  "Hold", \
  "Waiting", \
  "Current_Byte_Delivery_Rate", \
  "Current_Byte_Transfer_Rate", \
  "Current_Msg_Delivery_Rate", \
  "Current_Msg_Transfer_Rate", \
  "Total_Failures", \
  "Total_KB_Delivered", \
  "Total_Pending", \
  "Total_Routed", \
  "Waiting_For_DIR", \
  "Waiting_For_DNS", \
  "Waiting_Recipients", \
  "Transferred", \
  "Peak_Messages_Transferred", \
  "Transfer_Failures", \
  "Delivered", \
  "Average_Size_Delivered", \
  "Max_Size_Delivered", \
  "Total_KB_Transferred"
#define VELORA_MAIL_KEYWORDS \
  "mail.", \
  "mail.dead\t", \
  "mail.averagedelivertime\t", \
  "mail.hold\t", \
  "mail.waiting\t", \
  "mail.currentbytedeliveryrate\t", \
  "mail.currentbytetransferrate\t", \
  "mail.currentmessagedeliveryrate\t", \
  "mail.currentmessagetransferrate\t", \
  "mail.totalfailures\t", \
  "mail.totalkbdelivered\t", \
  "mail.totalpending\t", \
  "mail.totalrouted\t", \
  "mail.waitingfordir\t", \
  "mail.waitingfordns\t", \
  "mail.waitingrecipients\t", \
  "mail.transferred\t", \
  "mail.peakmessagestransferred\t", \
  "mail.transferfailures\t", \
  "mail.delivered\t", \
  "mail.averagesizedelivered\t", \
  "mail.maximumsizedelivered\t", \
  "mail.totalkbtransferred\t"
char Velora_MAIL_Handle[] = "Velora_MAIL";
char* Velora_MAIL[Velora_MAIL_ColumnCount];
const char* Velora_MAIL_Keyword[] = {VELORA_MAIL_KEYWORDS};
static_assert(countOf(VELORA_MAIL_KEYWORDS) == Velora_MAIL_ColumnCount, "Velora_MAIL keywords");
const char* const Velora_MAIL_Column[] = {VELORA_MAIL_COLUMNS};
static_assert(countOf(VELORA_MAIL_COLUMNS) == Velora_MAIL_ColumnCount, "Velora_MAIL columns");
char Velora_MAIL64_Handle[] = "Velora_MAIL64";
char* Velora_MAIL64[Velora_MAIL64_ColumnCount];
const char* Velora_MAIL64_Keyword[] = {VELORA_MAIL_KEYWORDS, "mail.totalrouted.smtp\t", "mail.totalrouted.vrpc\t"};
static_assert(countOf(VELORA_MAIL_KEYWORDS, "mail.totalrouted.smtp\t", "mail.totalrouted.vrpc\t") == Velora_MAIL64_ColumnCount, "Velora_MAIL64 keywords");
const char* const Velora_MAIL64_Column[] = {VELORA_MAIL_COLUMNS, "Total_Routed_SMTP", "Total_Routed_VRPC"};
static_assert(countOf(VELORA_MAIL_COLUMNS, "Total_Routed_SMTP", "Total_Routed_VRPC") == Velora_MAIL64_ColumnCount, "Velora_MAIL64 columns");

#define VELORA_NET_TCPIP_COLUMNS \
  "Server_Name", \
  "Sessions_Est_Incoming", \
  "Sessions_Est_Outgoing", \
  "Sessions_Peak", \
  "Bytes_Received", \
  "Bytes_Sent"
#define VELORA_NET_TCPIP_KEYWORDS \
  "net.tcpip.", \
  "net.tcpip.sessions.established.incoming\t", \
  "net.tcpip.sessions.established.outgoing\t", \
  "net.tcpip.sessions.peak\t", \
  "net.tcpip.bytesreceived\t", \
  "net.tcpip.bytessent\t"
char Velora_NET_TCPIP_Handle[] = "Velora_NET_TCPIP";
char* Velora_NET_TCPIP[Velora_NET_TCPIP_ColumnCount];
const char* Velora_NET_TCPIP_Keyword[] = {VELORA_NET_TCPIP_KEYWORDS};
static_assert(countOf(VELORA_NET_TCPIP_KEYWORDS) == Velora_NET_TCPIP_ColumnCount, "Velora_NET_TCPIP keywords");
const char* const Velora_NET_TCPIP_Column[] = {VELORA_NET_TCPIP_COLUMNS};
static_assert(countOf(VELORA_NET_TCPIP_COLUMNS) == Velora_NET_TCPIP_ColumnCount, "Velora_NET_TCPIP columns");
char Velora_NET_TCPIP64_Handle[] = "Velora_NET_TCPIP64";
char* Velora_NET_TCPIP64[Velora_NET_TCPIP64_ColumnCount];
const char* Velora_NET_TCPIP64_Keyword[] = {VELORA_NET_TCPIP_KEYWORDS, "net.tcpip.kbreceivedinterval\t", "net.tcpip.kbsentinterval\t"};
static_assert(countOf(VELORA_NET_TCPIP_KEYWORDS, "net.tcpip.kbreceivedinterval\t", "net.tcpip.kbsentinterval\t") == Velora_NET_TCPIP64_ColumnCount, "Velora_NET_TCPIP64 keywords");
const char* const Velora_NET_TCPIP64_Column[] = {VELORA_NET_TCPIP_COLUMNS, "KB_Received_Interval", "KB_Sent_Interval"};
static_assert(countOf(VELORA_NET_TCPIP_COLUMNS, "KB_Received_Interval", "KB_Sent_Interval") == Velora_NET_TCPIP64_ColumnCount, "Velora_NET_TCPIP64 columns");

#define VELORA_REPLICA_CLUSTER_COLUMNS \
  "Server_Name", \
  "Servers", \
  "Successful", \
  "Failed", \
  "Docs_Added", \
  "Docs_Updated", \
  "Docs_Deleted", \
  "Retry_Waiting", \
  "Session_Byte_In", \
  "Session_Byte_Out", \
  "Work_Queue_Depth_Avg", \
  "Work_Queue_Depth_Max", \
  "Work_Queue_Depth", \
  "Seconds_On_Queue", \
  "Seconds_On_Queue_Max"
#define VELORA_REPLICA_CLUSTER_KEYWORDS \
  "replica.cluster.", \
  "replica.cluster.servers\t", \
  "replica.cluster.successful\t", \
  "replica.cluster.failed\t", \
  "replica.cluster.docs.added\t", \
  "replica.cluster.docs.updated\t", \
  "replica.cluster.docs.deleted\t", \
  "replica.cluster.retry.waiting\t", \
  "replica.cluster.sessionbytes.in\t", \
  "replica.cluster.sessionbytes.out\t", \
  "replica.cluster.workqueuedepth.avg\t", \
  "replica.cluster.workqueuedepth.max\t", \
  "replica.cluster.workqueuedepth\t", \
  "replica.cluster.secondsonqueue\t", \
  "replica.cluster.secondsonqueue.max\t"
char Velora_Replica_Cluster_Handle[] = "Velora_Replica_Cluster";
char* Velora_Replica_Cluster[Velora_Replica_Cluster_ColumnCount];
const char* Velora_Replica_Cluster_Keyword[] = {VELORA_REPLICA_CLUSTER_KEYWORDS};
static_assert(countOf(VELORA_REPLICA_CLUSTER_KEYWORDS) == Velora_Replica_Cluster_ColumnCount, "Velora_Replica_Cluster keywords");
const char* const Velora_Replica_Cluster_Column[] = {VELORA_REPLICA_CLUSTER_COLUMNS};
static_assert(countOf(VELORA_REPLICA_CLUSTER_COLUMNS) == Velora_Replica_Cluster_ColumnCount, "Velora_Replica_Cluster columns");
char Velora_Replica_Cluster64_Handle[] = "Velora_Replica_Cluster64";
char* Velora_Replica_Cluster64[Velora_Replica_Cluster64_ColumnCount];
const char* Velora_Replica_Cluster64_Keyword[] = {VELORA_REPLICA_CLUSTER_KEYWORDS};
static_assert(countOf(VELORA_REPLICA_CLUSTER_KEYWORDS) == Velora_Replica_Cluster64_ColumnCount, "Velora_Replica_Cluster64 keywords");
const char* const Velora_Replica_Cluster64_Column[] = {VELORA_REPLICA_CLUSTER_COLUMNS};
static_assert(countOf(VELORA_REPLICA_CLUSTER_COLUMNS) == Velora_Replica_Cluster64_ColumnCount, "Velora_Replica_Cluster64 columns");

#define VELORA_COMMAND_COLUMNS \
  "Server_Name", \
  "Create_Document", \
  "Delete_Document", \
  "Edit_Document", \
  "Login", \
  "Navigate", \
  "Open_About", \
  "Open_Agent", \
  "Open_Database", \
  "Open_Document", \
  "Open_Element", \
  "Open_Form", \
  "Open_Help", \
  "Open_Icon", \
  "Open_Navigator", \
  "Open_Server", \
  "Open_View", \
  "Read_Form", \
  "Search_Site", \
  "Search_View", \
  "Total", \
  "Unknown"
#define VELORA_COMMAND_KEYWORDS \
  "velora.command", \
  "velora.command.createdocument\t", \
  "velora.command.deletedocument\t", \
  "velora.command.editdocument\t", \
  "velora.command.login\t", \
  "velora.command.navigate\t", \
  "velora.command.openabout\t", \
  "velora.command.openagent\t", \
  "velora.command.opendatabase\t", \
  "velora.command.opendocument\t", \
  "velora.command.openelement\t", \
  "velora.command.openform\t", \
  "velora.command.openhelp\t", \
  "velora.command.openicon\t", \
  "velora.command.opennavigator\t", \
  "velora.command.openserver\t", \
  "velora.command.openview\t", \
  "velora.command.readform\t", \
  "velora.command.searchsite\t", \
  "velora.command.searchview\t", \
  "velora.command.total\t", \
  "velora.command.unknown\t"
char Velora_Command_Handle[] = "Velora_Command";
char* Velora_Command[Velora_Command_ColumnCount];
const char* Velora_Command_Keyword[] = {VELORA_COMMAND_KEYWORDS};
static_assert(countOf(VELORA_COMMAND_KEYWORDS) == Velora_Command_ColumnCount, "Velora_Command keywords");
const char* const Velora_Command_Column[] = {VELORA_COMMAND_COLUMNS};
static_assert(countOf(VELORA_COMMAND_COLUMNS) == Velora_Command_ColumnCount, "Velora_Command columns");

#define VELORA_WEB_RETRIEVER_COLUMNS \
  "Server_Name", \
  "Access_FTP", \
  "Access_Gopher", \
  "Access_HTTP", \
  "Bytes_Received", \
  "Bytes_Sent", \
  "Image_Cache_Hits", \
  "Image_Cache_Misses", \
  "Log_Level", \
  "Log_Messages", \
  "Process_Access_FTP", \
  "Process_Access_Gopher", \
  "Process_Access_HTTP", \
  "Process_Bytes_Received", \
  "Process_Bytes_Sent", \
  "Process_Num_Active", \
  "Process_Num_Busy", \
  "Process_Num_Idle", \
  "Process_Num_Maximum", \
  "Process_State", \
  "Process_URLs_Failed", \
  "Process_URLs_Requested", \
  "Process_URLs_Succeeded", \
  "Time_Current", \
  "Time_Duration", \
  "Time_Start", \
  "URLs_Failed", \
  "URLs_Requested", \
  "URLs_Succeeded", \
  "Version", \
  "VPOOL_Max_Buf", \
  "VPOOL_Max_Element", \
  "VPOOL_Max_Marker", \
  "VPOOL_Max_Text", \
  "VPOOL_Max_URL"
#define VELORA_WEB_RETRIEVER_KEYWORDS \
  "web.retriever", \
  "web.retriever.access.ftp\t", \
  "web.retriever.access.gopher\t", \
  "web.retriever.access.http\t", \
  "web.retriever.bytes.received\t", \
  "web.retriever.bytes.sent\t", \
  "web.retriever.imagecache.hits\t", \
  "web.retriever.imagecache.misses\t", \
  "web.retriever.loglevel\t", \
  "web.retriever.logmessages\t", \
  "web.retriever.process.access.ftp\t", \
  "web.retriever.process.access.gopher\t", \
  "web.retriever.process.access.http\t", \
  "web.retriever.process.bytes.received\t", \
  "web.retriever.process.bytes.sent\t", \
  "web.retriever.process.num.active\t", \
  "web.retriever.process.num.busy\t", \
  "web.retriever.process.num.idle\t", \
  "web.retriever.process.num.maximum\t", \
  "web.retriever.process.state\t", \
  "web.retriever.process.urls.failed\t", \
  "web.retriever.process.urls.requested\t", \
  "web.retriever.process.urls.succeeded\t", \
  "web.retriever.time.current\t", \
  "web.retriever.time.duration\t", \
  "web.retriever.time.start\t", \
  "web.retriever.urls.failed\t", \
  "web.retriever.urls.requested\t", \
  "web.retriever.urls.succeeded\t", \
  "web.retriever.version\t", \
  "web.retriever.vpool.max.buf\t", \
  "web.retriever.vpool.max.element\t", \
  "web.retriever.vpool.max.marker\t", \
  "web.retriever.vpool.max.text\t", \
  "web.retriever.vpool.max.url\t"
char Velora_Web_Retriever_Handle[] = "Velora_Web_Retriever";
char* Velora_Web_Retriever[Velora_Web_Retriever_ColumnCount];
const char* Velora_Web_Retriever_Keyword[] = {VELORA_WEB_RETRIEVER_KEYWORDS};
static_assert(countOf(VELORA_WEB_RETRIEVER_KEYWORDS) == Velora_Web_Retriever_ColumnCount, "Velora_Web_Retriever keywords");
const char* const Velora_Web_Retriever_Column[] = {VELORA_WEB_RETRIEVER_COLUMNS};
static_assert(countOf(VELORA_WEB_RETRIEVER_COLUMNS) == Velora_Web_Retriever_ColumnCount, "Velora_Web_Retriever columns");

#define VELORA_SERVER_COLUMNS \
  "Server_Name", \
  "Version_OS", \
  "Version_Vaxel", \
  "Vaxel_Buildnumber", \
  "Server_Time_Start", \
  "Availability_Index", \
  "Availability_Threshold", \
  "Sessions_Dropped", \
  "Trans_Per_Minute_Peak", \
  "Trans_Total", \
  "Users_Peak", \
  "Users_Active_30_Min", \
  "Users", \
  "Expansion_Factor"
#define VELORA_SERVER_KEYWORDS \
  "server.availabilityindex", \
  "server.version.os\t", \
  "server.version.vaxel\t", \
  "server.version.vaxel.buildnumber\t", \
  "server.time.start\t", \
  "server.availabilityindex\t", \
  "server.availabilitythreshold\t", \
  "server.sessions.dropped\t", \
  "server.trans.perminute.peak\t", \
  "server.trans.total\t", \
  "server.users.peak\t", \
  "server.users.active30min\t", \
  "server.users\t", \
  "server.expansionfactor\t"
char Velora_Server_Handle[] = "Velora_Server";
char* Velora_Server[Velora_Server_ColumnCount];
const char* Velora_Server_Keyword[] = {VELORA_SERVER_KEYWORDS};
static_assert(countOf(VELORA_SERVER_KEYWORDS) == Velora_Server_ColumnCount, "Velora_Server keywords");
const char* const Velora_Server_Column[] = {VELORA_SERVER_COLUMNS};
static_assert(countOf(VELORA_SERVER_COLUMNS) == Velora_Server_ColumnCount, "Velora_Server columns");
char Velora_Server64_Handle[] = "Velora_Server64";
char* Velora_Server64[Velora_Server64_ColumnCount];
const char* Velora_Server64_Keyword[] = {VELORA_SERVER_KEYWORDS, "server.trans.perminute\t", "server.dummyresponsetime\t"};
static_assert(countOf(VELORA_SERVER_KEYWORDS, "server.trans.perminute\t", "server.dummyresponsetime\t") == Velora_Server64_ColumnCount, "Velora_Server64 keywords");
const char* const Velora_Server64_Column[] = {VELORA_SERVER_COLUMNS, "Trans_Per_Minute", "Response_Time"};
static_assert(countOf(VELORA_SERVER_COLUMNS, "Trans_Per_Minute", "Response_Time") == Velora_Server64_ColumnCount, "Velora_Server64 columns");

#define VELORA_SERVER_CLUSTER_COLUMNS \
  "Server_Name", \
  "Open_Redir_Failover_Success", \
  "Open_Redir_Failover_Unsucc", \
  "Open_Redir_Fover_By_Pth_Suc", \
  "Open_Redir_Fover_By_Pth_Unsuc", \
  "Open_Redir_Load_Bal_Succ_Tot", \
  "Open_Redir_Load_Bal_Unsuc_Tot", \
  "Open_Redir_Load_Bal_Pth_Unsuc", \
  "Open_Redir_Load_Bal_Pth_Succ", \
  "Open_Req_Cluster_Busy", \
  "Open_Req_Db_Out_Of_Service", \
  "Open_Req_Load_Balanced", \
  "Probe_Count", \
  "Probe_Error"
#define VELORA_SERVER_CLUSTER_KEYWORDS \
  "server.cluster.", \
  "server.cluster.openredirects.failover.successful\t", \
  "server.cluster.openredirects.failover.unsuccessful\t", \
  "server.cluster.openredirects.failoverbypath.successful\t", \
  "server.cluster.openredirects.failoverbypath.unsuccessful\t", \
  "server.cluster.openredirects.loadbalance.successful\t", \
  "server.cluster.openredirects.loadbalance.unsuccessful\t", \
  "server.cluster.openredirects.loadbalancebypath.unsuccessful\t", \
  "server.cluster.openredirects.loadbalancebypath.successful\t", \
  "server.cluster.openrequest.clusterbusy\t", \
  "server.cluster.openrequest.databaseoutofservice\t", \
  "server.cluster.openrequest.loadbalanced\t", \
  "server.cluster.probecount\t", \
  "server.cluster.probeerror\t"
char Velora_Server_Cluster_Handle[] = "Velora_Server_Cluster";
char* Velora_Server_Cluster[Velora_Server_Cluster_ColumnCount];
const char* Velora_Server_Cluster_Keyword[] = {VELORA_SERVER_CLUSTER_KEYWORDS};
static_assert(countOf(VELORA_SERVER_CLUSTER_KEYWORDS) == Velora_Server_Cluster_ColumnCount, "Velora_Server_Cluster keywords");
const char* const Velora_Server_Cluster_Column[] = {VELORA_SERVER_CLUSTER_COLUMNS};
static_assert(countOf(VELORA_SERVER_CLUSTER_COLUMNS) == Velora_Server_Cluster_ColumnCount, "Velora_Server_Cluster columns");

#define VELORA_ICM_COLUMNS \
  "Server_Name", \
  "Availability_Index", \
  "Cmd_Total", \
  "Cmd_Unknown", \
  "Cmd_Redirects_Successful", \
  "Cmd_Redirects_Unsuccessful", \
  "Cmd_Redirects_Cluster_Busy", \
  "Receive_Error", \
  "Requests_Per_1Hour", \
  "Requests_Per_1Minute", \
  "Requests_Per_5Minutes", \
  "Server_Running", \
  "Sess_Inbound_Accept_Queue", \
  "Sess_Inbound_Active", \
  "Sess_Inbound_Active_SSL", \
  "Sess_Inbound_Bytes_Received", \
  "Sess_Inbound_Bytes_Sent", \
  "Sess_Inbound_Peak", \
  "Sess_Inbound_SSL", \
  "Sess_Inbound_Total", \
  "Sess_Inbound_Total_SSL", \
  "Sess_Outbound_Active", \
  "Sess_Outbound_Active_SSL", \
  "Sess_Outbound_Bytes_Received", \
  "Sess_Outbound_Bytes_Sent", \
  "Sess_Outbound_Peak", \
  "Sess_Outbound_Peak_SSL", \
  "Sess_Outbound_Total", \
  "Sess_Outbound_Total_SSL", \
  "Sess_Threads_Busy", \
  "Sess_Threads_Idle", \
  "Sess_Threads_In_Thread_Pool", \
  "Sess_Threads_Peak"
#define VELORA_ICM_KEYWORDS \
  "icm.", \
  "icm.availabilityindex\t", \
  "icm.command.total\t", \
  "icm.command.unknown\t", \
  "icm.command.redirects.successful\t", \
  "icm.command.redirects.unsuccessful\t", \
  "icm.command.redirects.clusterbusy\t", \
  "icm.receive.error\t", \
  "icm.requests.per1hour.total\t", \
  "icm.requests.per1minute.total\t", \
  "icm.requests.per5minutes.total\t", \
  "icm.server.running\t", \
  "icm.sessions.inbound.accept.queue\t", \
  "icm.sessions.inbound.active\t", \
  "icm.sessions.inbound.active.ssl\t", \
  "icm.sessions.inbound.bytesreceived\t", \
  "icm.sessions.inbound.bytessent\t", \
  "icm.sessions.inbound.peak\t", \
  "icm.sessions.inbound.ssl\t", \
  "icm.sessions.inbound.total\t", \
  "icm.sessions.inbound.total.ssl\t", \
  "icm.sessions.outbound.active\t", \
  "icm.sessions.outbound.active.ssl\t", \
  "icm.sessions.outbound.bytesreceived\t", \
  "icm.sessions.outbound.bytessent\t", \
  "icm.sessions.outbound.peak\t", \
  "icm.sessions.outbound.peak.ssl\t", \
  "icm.sessions.outbound.total\t", \
  "icm.sessions.outbound.total.ssl\t", \
  "icm.sessions.threads.busy\t", \
  "icm.sessions.threads.idle\t", \
  "icm.sessions.threads.inthreadpool\t", \
  "icm.sessions.threads.peak\t"
char Velora_ICM_Handle[] = "Velora_ICM";
char* Velora_ICM[Velora_ICM_ColumnCount];
const char* Velora_ICM_Keyword[] = {VELORA_ICM_KEYWORDS};
static_assert(countOf(VELORA_ICM_KEYWORDS) == Velora_ICM_ColumnCount, "Velora_ICM keywords");
const char* const Velora_ICM_Column[] = {VELORA_ICM_COLUMNS};
static_assert(countOf(VELORA_ICM_COLUMNS) == Velora_ICM_ColumnCount, "Velora_ICM columns");
char Velora_ICM64_Handle[] = "Velora_ICM64";
char* Velora_ICM64[Velora_ICM64_ColumnCount];
const char* Velora_ICM64_Keyword[] = {VELORA_ICM_KEYWORDS};
static_assert(countOf(VELORA_ICM_KEYWORDS) == Velora_ICM64_ColumnCount, "Velora_ICM64 keywords");
const char* const Velora_ICM64_Column[] = {VELORA_ICM_COLUMNS};
static_assert(countOf(VELORA_ICM_COLUMNS) == Velora_ICM64_ColumnCount, "Velora_ICM64 columns");

#define VELORA_DATABASE_COLUMNS \
  "Server_Name", \
  "DA_Refresh_Server_Info_Count", \
  "DA_Reload_Count", \
  "Buffer_Pool_Max_MB", \
  "Buffer_Pool_MM_Reads", \
  "Buffer_Pool_MM_Writes", \
  "BufferPool_Peak_MB", \
  "Buffer_Pool_Pct_Reads_In_Buf", \
  "Db_Cache_Current_Entries", \
  "Db_Cache_High_Water_Mark", \
  "Db_Cache_Hits", \
  "Db_Cache_Initial_Db_Opens", \
  "Db_Cache_Lookups", \
  "Db_Cache_Max_Entries", \
  "Db_Cache_Overcrowd_Rej", \
  "VDB_Pool_Peak", \
  "VDB_Pool_Used", \
  "VDB_Replicate_Vaxel_Received", \
  "VDB_Replicate_Vaxel_Sent"
#define VELORA_DATABASE_KEYWORDS \
  "database.dafailovercount", \
  "darefreshserverinfocount\t", \
  "dareloadcount\t", \
  "database.bufferpool.maximum.megabytes\t", \
  "database.bufferpool.mm.reads\t", \
  "database.bufferpool.mm.writes\t", \
  "database.bufferpool.peak.megabytes\t", \
  "database.bufferpool.percentreadsinbuffer\t", \
  "dbcache.currententries\t", \
  "dbcache.highwatermark\t", \
  "dbcache.hits\t", \
  "dbcache.initialdbopens\t", \
  "dbcache.lookups\t", \
  "dbcache.maxentries\t", \
  "dbcache.overcrowdingrejections\t", \
  "vdbpool.peak\t", \
  "vdbpool.used\t", \
  "vdb.replicate.vaxelreceived\t", \
  "vdb.replicate.vaxelsent\t"
char Velora_Database_Handle[] = "Velora_Database";
char* Velora_Database[Velora_Database_ColumnCount];
const char* Velora_Database_Keyword[] = {VELORA_DATABASE_KEYWORDS};
static_assert(countOf(VELORA_DATABASE_KEYWORDS) == Velora_Database_ColumnCount, "Velora_Database keywords");
const char* const Velora_Database_Column[] = {VELORA_DATABASE_COLUMNS};
static_assert(countOf(VELORA_DATABASE_COLUMNS) == Velora_Database_ColumnCount, "Velora_Database columns");
char Velora_Database64_Handle[] = "Velora_Database64";
char* Velora_Database64[Velora_Database64_ColumnCount];
const char* Velora_Database64_Keyword[] = {VELORA_DATABASE_KEYWORDS};
static_assert(countOf(VELORA_DATABASE_KEYWORDS) == Velora_Database64_ColumnCount, "Velora_Database64 keywords");
const char* const Velora_Database64_Column[] = {VELORA_DATABASE_COLUMNS};
static_assert(countOf(VELORA_DATABASE_COLUMNS) == Velora_Database64_ColumnCount, "Velora_Database64 columns");

#define VELORA_SMTP_COLUMNS \
  "Server_Name", \
  "Sess_Inbound_Accept_Queue", \
  "Sess_Inbound_Active", \
  "Sess_Inbound_Total", \
  "Sess_Inbound_Bytes_Received", \
  "Sess_Inbound_Bytes_Sent", \
  "Sess_Inbound_Peak"
#define VELORA_SMTP_KEYWORDS \
  "smtp.", \
  "smtp.sessions.inbound.accept.queue\t", \
  "smtp.sessions.inbound.active\t", \
  "smtp.sessions.inbound.total\t", \
  "smtp.sessions.inbound.bytesreceived\t", \
  "smtp.sessions.inbound.bytessent\t", \
  "smtp.sessions.inbound.peak\t"
char Velora_SMTP_Handle[] = "Velora_SMTP";
char* Velora_SMTP[Velora_SMTP_ColumnCount];
const char* Velora_SMTP_Keyword[] = {VELORA_SMTP_KEYWORDS};
static_assert(countOf(VELORA_SMTP_KEYWORDS) == Velora_SMTP_ColumnCount, "Velora_SMTP keywords");
const char* const Velora_SMTP_Column[] = {VELORA_SMTP_COLUMNS};
static_assert(countOf(VELORA_SMTP_COLUMNS) == Velora_SMTP_ColumnCount, "Velora_SMTP columns");
char Velora_SMTP64_Handle[] = "Velora_SMTP64";
char* Velora_SMTP64[Velora_SMTP64_ColumnCount];
const char* Velora_SMTP64_Keyword[] = {VELORA_SMTP_KEYWORDS, "smtp.sessions.inbound.kbreceivedinterval\t", "smtp.sessions.inbound.kbsentinterval\t"};
static_assert(countOf(VELORA_SMTP_KEYWORDS, "smtp.sessions.inbound.kbreceivedinterval\t", "smtp.sessions.inbound.kbsentinterval\t") == Velora_SMTP64_ColumnCount, "Velora_SMTP64 keywords");
const char* const Velora_SMTP64_Column[] = {VELORA_SMTP_COLUMNS, "Sess_Inbound_KB_Received_Interval", "Sess_Inbound_KB_Sent_Interval"};
static_assert(countOf(VELORA_SMTP_COLUMNS, "Sess_Inbound_KB_Received_Interval", "Sess_Inbound_KB_Sent_Interval") == Velora_SMTP64_ColumnCount, "Velora_SMTP64 columns");

#define VELORA_IMAP_COLUMNS \
  "Server_Name", \
  "Sess_Accept_Queue", \
  "Sess_Active", \
  "Sess_Inbound_Bytes_Received", \
  "Sess_Inbound_Bytes_Sent", \
  "Sess_Inbound_Non_SSL", \
  "Sess_Peak", \
  "Sess_Threads_Busy", \
  "Sess_Threads_Idle", \
  "Sess_Total"
#define VELORA_IMAP_KEYWORDS \
  "imap.sessions.", \
  "imap.sessions.accept.queue\t", \
  "imap.sessions.active\t", \
  "imap.sessions.inbound.bytesreceived\t", \
  "imap.sessions.inbound.bytessent\t", \
  "imap.sessions.inbound.non-ssl\t", \
  "imap.sessions.peak\t", \
  "imap.sessions.threads.busy\t", \
  "imap.sessions.threads.idle\t", \
  "imap.sessions.total\t"
char Velora_IMAP_Handle[] = "Velora_IMAP";
char* Velora_IMAP[Velora_IMAP_ColumnCount];
const char* Velora_IMAP_Keyword[] = {VELORA_IMAP_KEYWORDS};
static_assert(countOf(VELORA_IMAP_KEYWORDS) == Velora_IMAP_ColumnCount, "Velora_IMAP keywords");
const char* const Velora_IMAP_Column[] = {VELORA_IMAP_COLUMNS};
static_assert(countOf(VELORA_IMAP_COLUMNS) == Velora_IMAP_ColumnCount, "Velora_IMAP columns");
char Velora_IMAP64_Handle[] = "Velora_IMAP64";
char* Velora_IMAP64[Velora_IMAP64_ColumnCount];
const char* Velora_IMAP64_Keyword[] = {VELORA_IMAP_KEYWORDS};
static_assert(countOf(VELORA_IMAP_KEYWORDS) == Velora_IMAP64_ColumnCount, "Velora_IMAP64 keywords");
const char* const Velora_IMAP64_Column[] = {VELORA_IMAP_COLUMNS};
static_assert(countOf(VELORA_IMAP_COLUMNS) == Velora_IMAP64_ColumnCount, "Velora_IMAP64 columns");

#define VELORA_AGENT_COLUMNS \
  "Server_Name", \
  "Daily_Access_Denials", \
  "Daily_Unsuccessful_Runs", \
  "Daily_Scheduled_Runs", \
  "Daily_Triggered_Runs"
#define VELORA_AGENT_KEYWORDS \
  "agent.daily.", \
  "agent.daily.accessdenials\t", \
  "agent.daily.unsuccessfulruns\t", \
  "agent.daily.scheduledruns\t", \
  "agent.daily.triggeredruns\t"
char Velora_Agent_Handle[] = "Velora_Agent";
char* Velora_Agent[Velora_Agent_ColumnCount];
const char* Velora_Agent_Keyword[] = {VELORA_AGENT_KEYWORDS};
static_assert(countOf(VELORA_AGENT_KEYWORDS) == Velora_Agent_ColumnCount, "Velora_Agent keywords");
const char* const Velora_Agent_Column[] = {VELORA_AGENT_COLUMNS};
static_assert(countOf(VELORA_AGENT_COLUMNS) == Velora_Agent_ColumnCount, "Velora_Agent columns");

#define VELORA_REPLICA_COLUMNS \
  "Server_Name", \
  "Successful", \
  "Failed", \
  "Docs_Added", \
  "Docs_Updated", \
  "Docs_Deleted"
#define VELORA_REPLICA_KEYWORDS \
  "replica.", \
  "replica.successful\t", \
  "replica.failed\t", \
  "replica.docs.added\t", \
  "replica.docs.updated\t", \
  "replica.docs.deleted\t"
char Velora_Replica_Handle[] = "Velora_Replica";
char* Velora_Replica[Velora_Replica_ColumnCount];
const char* Velora_Replica_Keyword[] = {VELORA_REPLICA_KEYWORDS};
static_assert(countOf(VELORA_REPLICA_KEYWORDS) == Velora_Replica_ColumnCount, "Velora_Replica keywords");
const char* const Velora_Replica_Column[] = {VELORA_REPLICA_COLUMNS};
static_assert(countOf(VELORA_REPLICA_COLUMNS) == Velora_Replica_ColumnCount, "Velora_Replica columns");
char Velora_Replica64_Handle[] = "Velora_Replica64";
char* Velora_Replica64[Velora_Replica64_ColumnCount];
const char* Velora_Replica64_Keyword[] = {VELORA_REPLICA_KEYWORDS};
static_assert(countOf(VELORA_REPLICA_KEYWORDS) == Velora_Replica64_ColumnCount, "Velora_Replica64 keywords");
const char* const Velora_Replica64_Column[] = {VELORA_REPLICA_COLUMNS};
static_assert(countOf(VELORA_REPLICA_COLUMNS) == Velora_Replica64_ColumnCount, "Velora_Replica64 columns");


// ---------------------------------------------------------------------------
// Multi-row statistics groups.  Mail by destination: columns 2 to 5 carry
// suffixes of "mailbydest.<destination>"; column 1 is the destination cut out
// of the statistic name.  Tasks: the keyword of every task line.

#define VELORA_MAIL_BY_DEST_COLUMNS \
  "Server_Name", "Destination_Server", "Total_Routed", "Transferred", "Delivered", \
      "Total_KB_Transferred"
#define VELORA_MAIL_BY_DEST_KEYWORDS \
  "mailbydest.", "", ".totalrouted\t", ".transferred\t", ".delivered\t", ".totalkbtransferred\t"
char Velora_Mail_By_Dest_Handle[] = "Velora_Mail_By_Dest";
char* Velora_Mail_By_Dest[Velora_Mail_By_Dest_ColumnCount];
const char* Velora_Mail_By_Dest_Keyword[] = {VELORA_MAIL_BY_DEST_KEYWORDS};
static_assert(countOf(VELORA_MAIL_BY_DEST_KEYWORDS) == Velora_Mail_By_Dest_ColumnCount, "Velora_Mail_By_Dest keywords");
const char* const Velora_Mail_By_Dest_Column[] = {VELORA_MAIL_BY_DEST_COLUMNS};
static_assert(countOf(VELORA_MAIL_BY_DEST_COLUMNS) == Velora_Mail_By_Dest_ColumnCount, "Velora_Mail_By_Dest columns");
char Velora_Mail_By_Dest64_Handle[] = "Velora_Mail_By_Dest64";
char* Velora_Mail_By_Dest64[Velora_Mail_By_Dest64_ColumnCount];
const char* Velora_Mail_By_Dest64_Keyword[] = {VELORA_MAIL_BY_DEST_KEYWORDS};
static_assert(countOf(VELORA_MAIL_BY_DEST_KEYWORDS) == Velora_Mail_By_Dest64_ColumnCount, "Velora_Mail_By_Dest64 keywords");
const char* const Velora_Mail_By_Dest64_Column[] = {VELORA_MAIL_BY_DEST_COLUMNS};
static_assert(countOf(VELORA_MAIL_BY_DEST_COLUMNS) == Velora_Mail_By_Dest64_ColumnCount, "Velora_Mail_By_Dest64 columns");

char Velora_Tasks_Handle[] = "Velora_Tasks";
char* Velora_Tasks[Velora_Tasks_ColumnCount];
const char* Velora_Tasks_Keyword[] = {"server.task\t", "", "", ""};
static_assert(countOf("server.task\t", "", "", "") == Velora_Tasks_ColumnCount, "Velora_Tasks keywords");
const char* const Velora_Tasks_Column[] = {"Server_Name", "Task_Name", "Task_Status",
                                           "Task_Status_Duration"};
static_assert(countOf("Server_Name", "Task_Name", "Task_Status", "Task_Status_Duration") ==
                  Velora_Tasks_ColumnCount,
              "Velora_Tasks columns");

// ---------------------------------------------------------------------------
// Groups without keywords: the add-in statistics, the add-in's event group
// and the groups built by the replication, database and group work.  Their
// keyword arrays exist (every group has one) but stay null.

#define QVD_PLAIN_GROUP(name, ...)                         \
  char name##_Handle[] = #name;                            \
  char* name[name##_ColumnCount];                          \
  const char* name##_Keyword[name##_ColumnCount];          \
  const char* const name##_Column[] = {__VA_ARGS__};      \
  static_assert(countOf(__VA_ARGS__) == name##_ColumnCount, #name " columns");

QVD_PLAIN_GROUP(MV_View_Performance_Statistics, "Server_Name", "Statistic_Name", "View_Max",
                "View_Avg", "View_Count", "View_Pct_Under_Value", "View_Pct_Under")
QVD_PLAIN_GROUP(MV_Replication_Statistics, "Server_Name", "Replication_Name", "Statistic_Name",
                "Pulled_KB_Received", "Pulled_KB_Sent", "Pulled_Documents_Transferred",
                "Pushed_KB_Received", "Pushed_KB_Sent", "Pushed_Documents_Transferred",
                "Replication_Time", "Total_Missed", "Total_Successes")
QVD_PLAIN_GROUP(MV_Replication_Delay_Statistics, "Server_Name", "Replication_Name",
                "Statistic_Name", "Minutes_Since_Recv", "Minutes_Since_Send")
QVD_PLAIN_GROUP(MV_Mail_Size_Statistics, "Server_Name", "Mail_Name", "Statistic_Name",
                "Mail_Count", "Mail_Max", "Mail_Avg")
QVD_PLAIN_GROUP(MV_Mail_Domain_Statistics, "Server_Name", "Domain_Name", "Statistic_Name",
                "Mail_Count", "Mail_Size")
QVD_PLAIN_GROUP(MV_Mail_Incoming_Statistics, "Server_Name", "Originating_Server",
                "Statistic_Name", "Mail_Count_Over", "Mail_Min", "Mail_Max", "Mail_Avg")
QVD_PLAIN_GROUP(MV_Mail_Outgoing_Statistics, "Server_Name", "Destination_Server",
                "Statistic_Name", "Mail_Count", "Mail_Volume")
// The agent never receives column names; these follow the order in which
// the event thread fills the row, for trace output and tools.
QVD_PLAIN_GROUP(MV_Server, "Server_Name", "Event_Time", "Message_Priority", "Server_Message")
QVD_PLAIN_GROUP(Velora_Replication, "Server_Name", "Destination_Server", "Initiated_By",
                "Start_Time", "End_Time", "DB_Info", "Events", "Hit_Miss", "Duration")
QVD_PLAIN_GROUP(Velora_Corrupt_Failover_DB, "Server_Name", "DB_Name", "View", "State",
                "Failover_Status", "Failover_DB", "Failover_Server")
QVD_PLAIN_GROUP(Velora_DB_Whitespace, "Server_Name", "DB_Name", "DB_Whitespace",
                "DB_Whitespace_Pct", "DB_Size", "DB_Max_Size", "DB_Size_Limit",
                "DB_Warning_Threshold")
QVD_PLAIN_GROUP(Velora_Group_Updates, "Server_Name", "Group_Name", "Updates")

#undef QVD_PLAIN_GROUP

// ---------------------------------------------------------------------------
// Descriptors, in registration order.

namespace {

constexpr QvdRegisterCondition kAlways = QVD_REGISTER_ALWAYS;

}  // namespace

#define QVD_DESCRIBE(name, version, keywords, kind, condition, separator, overridable, cleared) \
  {name##_Handle, name##_Handle, version, name##_ColumnCount, name, keywords, name##_Column,     \
   kind, condition, separator, overridable, cleared}
#define QVD_ADDIN(name) \
  QVD_DESCRIBE(name, 1, nullptr, QVD_TABLE_ADDIN, kAlways, ':', false, true)
#define QVD_SINGLE(name) \
  QVD_DESCRIBE(name, 1, name##_Keyword, QVD_TABLE_SINGLE_ROW, kAlways, '=', true, true)

const QvdTableDescriptor qvdTableCatalogue[kQvdTableCount] = {
    QVD_DESCRIBE(MV_View_Performance_Statistics, 1, nullptr, QVD_TABLE_ADDIN, kAlways, '=',
                 false, true),
    QVD_ADDIN(MV_Replication_Statistics),
    QVD_ADDIN(MV_Replication_Delay_Statistics),
    QVD_ADDIN(MV_Mail_Size_Statistics),
    QVD_ADDIN(MV_Mail_Domain_Statistics),
    QVD_ADDIN(MV_Mail_Incoming_Statistics),
    QVD_ADDIN(MV_Mail_Outgoing_Statistics),
    QVD_DESCRIBE(MV_Server, 1, nullptr, QVD_TABLE_EVENT, kAlways, ':', false, false),
    QVD_SINGLE(Velora_Calendar),
    QVD_SINGLE(Velora_Calendar64),
    QVD_SINGLE(Velora_LDAP),
    QVD_SINGLE(Velora_LDAP64),
    QVD_SINGLE(Velora_MAIL),
    QVD_SINGLE(Velora_MAIL64),
    QVD_SINGLE(Velora_NET_TCPIP),
    QVD_SINGLE(Velora_NET_TCPIP64),
    QVD_SINGLE(Velora_Replica_Cluster),
    QVD_SINGLE(Velora_Replica_Cluster64),
    QVD_SINGLE(Velora_Web_Retriever),
    QVD_SINGLE(Velora_Command),
    QVD_SINGLE(Velora_Server),
    QVD_SINGLE(Velora_Server64),
    QVD_SINGLE(Velora_Server_Cluster),
    QVD_SINGLE(Velora_ICM),
    QVD_SINGLE(Velora_ICM64),
    QVD_SINGLE(Velora_Database),
    QVD_SINGLE(Velora_Database64),
    QVD_DESCRIBE(Velora_Mail_By_Dest, 1, Velora_Mail_By_Dest_Keyword, QVD_TABLE_MULTI_ROW,
                 kAlways, '=', true, true),
    QVD_DESCRIBE(Velora_Mail_By_Dest64, 1, Velora_Mail_By_Dest64_Keyword, QVD_TABLE_MULTI_ROW,
                 kAlways, '=', true, true),
    QVD_SINGLE(Velora_SMTP),
    QVD_SINGLE(Velora_SMTP64),
    QVD_SINGLE(Velora_IMAP),
    QVD_SINGLE(Velora_IMAP64),
    QVD_SINGLE(Velora_Agent),
    QVD_SINGLE(Velora_Replica),
    QVD_SINGLE(Velora_Replica64),
    QVD_DESCRIBE(Velora_Replication, 1, nullptr, QVD_TABLE_OTHER,
                 QVD_REGISTER_IF_LOG_VDB_MONITOR, '=', false, true),
    QVD_DESCRIBE(Velora_Tasks, 2, Velora_Tasks_Keyword, QVD_TABLE_MULTI_ROW, kAlways, '=', false,
                 true),
    QVD_DESCRIBE(Velora_Corrupt_Failover_DB, 1, nullptr, QVD_TABLE_OTHER,
                 QVD_REGISTER_IF_CHECK_DB, '=', false, false),
    QVD_DESCRIBE(Velora_DB_Whitespace, 1, nullptr, QVD_TABLE_OTHER, QVD_REGISTER_IF_CHECK_DB,
                 '=', false, false),
    QVD_DESCRIBE(Velora_Group_Updates, 1, nullptr, QVD_TABLE_OTHER,
                 QVD_REGISTER_IF_GROUP_MONITOR, '=', false, false),
};

#undef QVD_SINGLE
#undef QVD_ADDIN
#undef QVD_DESCRIBE

const QvdTableDescriptor* findTableDescriptor(const char* groupName) {
  if (groupName == nullptr) return nullptr;
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (std::strcmp(table.groupName, groupName) == 0) return &table;
  }
  QVD_DETAIL("no attribute group named %s", groupName);
  return nullptr;
}

const QvdTableDescriptor* findTableDescriptorByToken(const void* token) {
  if (token == nullptr) return nullptr;
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (tableToken(&table) == token) return &table;
  }
  return nullptr;
}

void clearSnapshotSlots() {
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (table.clearedOnSnapshot) table.values[0] = nullptr;
  }
}
