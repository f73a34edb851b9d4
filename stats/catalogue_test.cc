// The catalogue checked against the attribute groups the agent expects,
// written out independently below as text.
#include "stats/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One block per group in registration order: its version, the separator of
// its registration failure line and its columns; then one line per column
// with the column name and, for groups with keywords, the keyword (a tab
// written as \t).
const char kExpected[] = R"(
table MV_View_Performance_Statistics version=1 separator== columns=7
  0 Server_Name
  1 Statistic_Name
  2 View_Max
  3 View_Avg
  4 View_Count
  5 View_Pct_Under_Value
  6 View_Pct_Under
table MV_Replication_Statistics version=1 separator=: columns=12
  0 Server_Name
  1 Replication_Name
  2 Statistic_Name
  3 Pulled_KB_Received
  4 Pulled_KB_Sent
  5 Pulled_Documents_Transferred
  6 Pushed_KB_Received
  7 Pushed_KB_Sent
  8 Pushed_Documents_Transferred
  9 Replication_Time
  10 Total_Missed
  11 Total_Successes
table MV_Replication_Delay_Statistics version=1 separator=: columns=5
  0 Server_Name
  1 Replication_Name
  2 Statistic_Name
  3 Minutes_Since_Recv
  4 Minutes_Since_Send
table MV_Mail_Size_Statistics version=1 separator=: columns=6
  0 Server_Name
  1 Mail_Name
  2 Statistic_Name
  3 Mail_Count
  4 Mail_Max
  5 Mail_Avg
table MV_Mail_Domain_Statistics version=1 separator=: columns=5
  0 Server_Name
  1 Domain_Name
  2 Statistic_Name
  3 Mail_Count
  4 Mail_Size
table MV_Mail_Incoming_Statistics version=1 separator=: columns=7
  0 Server_Name
  1 Originating_Server
  2 Statistic_Name
  3 Mail_Count_Over
  4 Mail_Min
  5 Mail_Max
  6 Mail_Avg
table MV_Mail_Outgoing_Statistics version=1 separator=: columns=5
  0 Server_Name
  1 Destination_Server
  2 Statistic_Name
  3 Mail_Count
  4 Mail_Volume
table MV_Server version=1 separator=: columns=4
  0 Server_Name
  1 Event_Time
  2 Message_Priority
  3 Server_Message
table Velora_Calendar version=1 separator== columns=7
  0 Server_Name "calendar.total."
  1 Total_All_Appts_Reservations "calendar.total.all.appts.reservations\t"
  2 Total_All_Users_Resources "calendar.total.all.users.resources\t"
  3 Total_Appts "calendar.total.appts\t"
  4 Total_Reservations "calendar.total.reservations\t"
  5 Total_Resources "calendar.total.resources\t"
  6 Total_Users "calendar.total.users\t"
table Velora_Calendar64 version=1 separator== columns=7
  0 Server_Name "calendar.total."
  1 Total_All_Appts_Reservations "calendar.total.all.appts.reservations\t"
  2 Total_All_Users_Resources "calendar.total.all.users.resources\t"
  3 Total_Appts "calendar.total.appts\t"
  4 Total_Reservations "calendar.total.reservations\t"
  5 Total_Resources "calendar.total.resources\t"
  6 Total_Users "calendar.total.users\t"
table Velora_LDAP version=1 separator== columns=17
  0 Server_Name "ldap."
  1 Server_Running "ldap.server.running\t"
  2 Sess_Inbound_Accept_Queue "ldap.sessions.inbound.accept.queue\t"
  3 Sess_Inbound_Active "ldap.sessions.inbound.active\t"
  4 Sess_Inbound_Active_SSL "ldap.sessions.inbound.active.ssl\t"
  5 Sess_Inbound_Bytes_Received "ldap.sessions.inbound.bytesreceived\t"
  6 Sess_Inbound_Bytes_Sent "ldap.sessions.inbound.bytessent\t"
  7 Sess_Inbound_Peak "ldap.sessions.inbound.peak\t"
  8 Sess_Inbound_Peak_SSL "ldap.sessions.inbound.peak.ssl\t"
  9 Sess_Inbound_Total "ldap.sessions.inbound.total\t"
  10 Sess_Inbound_Total_SSL "ldap.sessions.inbound.total.ssl\t"
  11 Sess_Inb_Tot_SSL_Bad_Hshake "ldap.sessions.inbound.total.ssl.bad_handshake\t"
  12 Sess_Non_SSL "ldap.sessions.non-ssl\t"
  13 Sess_SSL "ldap.sessions.ssl\t"
  14 Sess_Total "ldap.sessions.total\t"
  15 Sess_Threads_Busy "ldap.sessions.threads.busy\t"
  16 Sess_Threads_Idle "ldap.sessions.threads.idle\t"
table Velora_LDAP64 version=1 separator== columns=17
  0 Server_Name "ldap."
  1 Server_Running "ldap.server.running\t"
  2 Sess_Inbound_Accept_Queue "ldap.sessions.inbound.accept.queue\t"
  3 Sess_Inbound_Active "ldap.sessions.inbound.active\t"
  4 Sess_Inbound_Active_SSL "ldap.sessions.inbound.active.ssl\t"
  5 Sess_Inbound_Bytes_Received "ldap.sessions.inbound.bytesreceived\t"
  6 Sess_Inbound_Bytes_Sent "ldap.sessions.inbound.bytessent\t"
  7 Sess_Inbound_Peak "ldap.sessions.inbound.peak\t"
  8 Sess_Inbound_Peak_SSL "ldap.sessions.inbound.peak.ssl\t"
  9 Sess_Inbound_Total "ldap.sessions.inbound.total\t"
  10 Sess_Inbound_Total_SSL "ldap.sessions.inbound.total.ssl\t"
  11 Sess_Inb_Tot_SSL_Bad_Hshake "ldap.sessions.inbound.total.ssl.bad_handshake\t"
  12 Sess_Non_SSL "ldap.sessions.non-ssl\t"
  13 Sess_SSL "ldap.sessions.ssl\t"
  14 Sess_Total "ldap.sessions.total\t"
  15 Sess_Threads_Busy "ldap.sessions.threads.busy\t"
  16 Sess_Threads_Idle "ldap.sessions.threads.idle\t"
table Velora_MAIL version=1 separator== columns=23
  0 Server_Name "mail."
  1 Dead "mail.dead\t"
  2 Average_Deliver_Time "mail.averagedelivertime\t"
  3 Hold "mail.hold\t"
  4 Waiting "mail.waiting\t"
  5 Current_Byte_Delivery_Rate "mail.currentbytedeliveryrate\t"
  6 Current_Byte_Transfer_Rate "mail.currentbytetransferrate\t"
  7 Current_Msg_Delivery_Rate "mail.currentmessagedeliveryrate\t"
  8 Current_Msg_Transfer_Rate "mail.currentmessagetransferrate\t"
  9 Total_Failures "mail.totalfailures\t"
  10 Total_KB_Delivered "mail.totalkbdelivered\t"
  11 Total_Pending "mail.totalpending\t"
  12 Total_Routed "mail.totalrouted\t"
  13 Waiting_For_DIR "mail.waitingfordir\t"
  14 Waiting_For_DNS "mail.waitingfordns\t"
  15 Waiting_Recipients "mail.waitingrecipients\t"
  16 Transferred "mail.transferred\t"
  17 Peak_Messages_Transferred "mail.peakmessagestransferred\t"
  18 Transfer_Failures "mail.transferfailures\t"
  19 Delivered "mail.delivered\t"
  20 Average_Size_Delivered "mail.averagesizedelivered\t"
  21 Max_Size_Delivered "mail.maximumsizedelivered\t"
  22 Total_KB_Transferred "mail.totalkbtransferred\t"
table Velora_MAIL64 version=1 separator== columns=25
  0 Server_Name "mail."
  1 Dead "mail.dead\t"
  2 Average_Deliver_Time "mail.averagedelivertime\t"
  3 Hold "mail.hold\t"
  4 Waiting "mail.waiting\t"
  5 Current_Byte_Delivery_Rate "mail.currentbytedeliveryrate\t"
  6 Current_Byte_Transfer_Rate "mail.currentbytetransferrate\t"
  7 Current_Msg_Delivery_Rate "mail.currentmessagedeliveryrate\t"
  8 Current_Msg_Transfer_Rate "mail.currentmessagetransferrate\t"
  9 Total_Failures "mail.totalfailures\t"
  10 Total_KB_Delivered "mail.totalkbdelivered\t"
  11 Total_Pending "mail.totalpending\t"
  12 Total_Routed "mail.totalrouted\t"
  13 Waiting_For_DIR "mail.waitingfordir\t"
  14 Waiting_For_DNS "mail.waitingfordns\t"
  15 Waiting_Recipients "mail.waitingrecipients\t"
  16 Transferred "mail.transferred\t"
  17 Peak_Messages_Transferred "mail.peakmessagestransferred\t"
  18 Transfer_Failures "mail.transferfailures\t"
  19 Delivered "mail.delivered\t"
  20 Average_Size_Delivered "mail.averagesizedelivered\t"
  21 Max_Size_Delivered "mail.maximumsizedelivered\t"
  22 Total_KB_Transferred "mail.totalkbtransferred\t"
  23 Total_Routed_SMTP "mail.totalrouted.smtp\t"
  24 Total_Routed_VRPC "mail.totalrouted.vrpc\t"
table Velora_NET_TCPIP version=1 separator== columns=6
  0 Server_Name "net.tcpip."
  1 Sessions_Est_Incoming "net.tcpip.sessions.established.incoming\t"
  2 Sessions_Est_Outgoing "net.tcpip.sessions.established.outgoing\t"
  3 Sessions_Peak "net.tcpip.sessions.peak\t"
  4 Bytes_Received "net.tcpip.bytesreceived\t"
  5 Bytes_Sent "net.tcpip.bytessent\t"
table Velora_NET_TCPIP64 version=1 separator== columns=8
  0 Server_Name "net.tcpip."
  1 Sessions_Est_Incoming "net.tcpip.sessions.established.incoming\t"
  2 Sessions_Est_Outgoing "net.tcpip.sessions.established.outgoing\t"
  3 Sessions_Peak "net.tcpip.sessions.peak\t"
  4 Bytes_Received "net.tcpip.bytesreceived\t"
  5 Bytes_Sent "net.tcpip.bytessent\t"
  6 KB_Received_Interval "net.tcpip.kbreceivedinterval\t"
  7 KB_Sent_Interval "net.tcpip.kbsentinterval\t"
table Velora_Replica_Cluster version=1 separator== columns=15
  0 Server_Name "replica.cluster."
  1 Servers "replica.cluster.servers\t"
  2 Successful "replica.cluster.successful\t"
  3 Failed "replica.cluster.failed\t"
  4 Docs_Added "replica.cluster.docs.added\t"
  5 Docs_Updated "replica.cluster.docs.updated\t"
  6 Docs_Deleted "replica.cluster.docs.deleted\t"
  7 Retry_Waiting "replica.cluster.retry.waiting\t"
  8 Session_Byte_In "replica.cluster.sessionbytes.in\t"
  9 Session_Byte_Out "replica.cluster.sessionbytes.out\t"
  10 Work_Queue_Depth_Avg "replica.cluster.workqueuedepth.avg\t"
  11 Work_Queue_Depth_Max "replica.cluster.workqueuedepth.max\t"
  12 Work_Queue_Depth "replica.cluster.workqueuedepth\t"
  13 Seconds_On_Queue "replica.cluster.secondsonqueue\t"
  14 Seconds_On_Queue_Max "replica.cluster.secondsonqueue.max\t"
table Velora_Replica_Cluster64 version=1 separator== columns=15
  0 Server_Name "replica.cluster."
  1 Servers "replica.cluster.servers\t"
  2 Successful "replica.cluster.successful\t"
  3 Failed "replica.cluster.failed\t"
  4 Docs_Added "replica.cluster.docs.added\t"
  5 Docs_Updated "replica.cluster.docs.updated\t"
  6 Docs_Deleted "replica.cluster.docs.deleted\t"
  7 Retry_Waiting "replica.cluster.retry.waiting\t"
  8 Session_Byte_In "replica.cluster.sessionbytes.in\t"
  9 Session_Byte_Out "replica.cluster.sessionbytes.out\t"
  10 Work_Queue_Depth_Avg "replica.cluster.workqueuedepth.avg\t"
  11 Work_Queue_Depth_Max "replica.cluster.workqueuedepth.max\t"
  12 Work_Queue_Depth "replica.cluster.workqueuedepth\t"
  13 Seconds_On_Queue "replica.cluster.secondsonqueue\t"
  14 Seconds_On_Queue_Max "replica.cluster.secondsonqueue.max\t"
table Velora_Web_Retriever version=1 separator== columns=35
  0 Server_Name "web.retriever"
  1 Access_FTP "web.retriever.access.ftp\t"
  2 Access_Gopher "web.retriever.access.gopher\t"
  3 Access_HTTP "web.retriever.access.http\t"
  4 Bytes_Received "web.retriever.bytes.received\t"
  5 Bytes_Sent "web.retriever.bytes.sent\t"
  6 Image_Cache_Hits "web.retriever.imagecache.hits\t"
  7 Image_Cache_Misses "web.retriever.imagecache.misses\t"
  8 Log_Level "web.retriever.loglevel\t"
  9 Log_Messages "web.retriever.logmessages\t"
  10 Process_Access_FTP "web.retriever.process.access.ftp\t"
  11 Process_Access_Gopher "web.retriever.process.access.gopher\t"
  12 Process_Access_HTTP "web.retriever.process.access.http\t"
  13 Process_Bytes_Received "web.retriever.process.bytes.received\t"
  14 Process_Bytes_Sent "web.retriever.process.bytes.sent\t"
  15 Process_Num_Active "web.retriever.process.num.active\t"
  16 Process_Num_Busy "web.retriever.process.num.busy\t"
  17 Process_Num_Idle "web.retriever.process.num.idle\t"
  18 Process_Num_Maximum "web.retriever.process.num.maximum\t"
  19 Process_State "web.retriever.process.state\t"
  20 Process_URLs_Failed "web.retriever.process.urls.failed\t"
  21 Process_URLs_Requested "web.retriever.process.urls.requested\t"
  22 Process_URLs_Succeeded "web.retriever.process.urls.succeeded\t"
  23 Time_Current "web.retriever.time.current\t"
  24 Time_Duration "web.retriever.time.duration\t"
  25 Time_Start "web.retriever.time.start\t"
  26 URLs_Failed "web.retriever.urls.failed\t"
  27 URLs_Requested "web.retriever.urls.requested\t"
  28 URLs_Succeeded "web.retriever.urls.succeeded\t"
  29 Version "web.retriever.version\t"
  30 VPOOL_Max_Buf "web.retriever.vpool.max.buf\t"
  31 VPOOL_Max_Element "web.retriever.vpool.max.element\t"
  32 VPOOL_Max_Marker "web.retriever.vpool.max.marker\t"
  33 VPOOL_Max_Text "web.retriever.vpool.max.text\t"
  34 VPOOL_Max_URL "web.retriever.vpool.max.url\t"
table Velora_Command version=1 separator== columns=22
  0 Server_Name "velora.command"
  1 Create_Document "velora.command.createdocument\t"
  2 Delete_Document "velora.command.deletedocument\t"
  3 Edit_Document "velora.command.editdocument\t"
  4 Login "velora.command.login\t"
  5 Navigate "velora.command.navigate\t"
  6 Open_About "velora.command.openabout\t"
  7 Open_Agent "velora.command.openagent\t"
  8 Open_Database "velora.command.opendatabase\t"
  9 Open_Document "velora.command.opendocument\t"
  10 Open_Element "velora.command.openelement\t"
  11 Open_Form "velora.command.openform\t"
  12 Open_Help "velora.command.openhelp\t"
  13 Open_Icon "velora.command.openicon\t"
  14 Open_Navigator "velora.command.opennavigator\t"
  15 Open_Server "velora.command.openserver\t"
  16 Open_View "velora.command.openview\t"
  17 Read_Form "velora.command.readform\t"
  18 Search_Site "velora.command.searchsite\t"
  19 Search_View "velora.command.searchview\t"
  20 Total "velora.command.total\t"
  21 Unknown "velora.command.unknown\t"
table Velora_Server version=1 separator== columns=14
  0 Server_Name "server.availabilityindex"
  1 Version_OS "server.version.os\t"
  2 Version_Vaxel "server.version.vaxel\t"
  3 Vaxel_Buildnumber "server.version.vaxel.buildnumber\t"
  4 Server_Time_Start "server.time.start\t"
  5 Availability_Index "server.availabilityindex\t"
  6 Availability_Threshold "server.availabilitythreshold\t"
  7 Sessions_Dropped "server.sessions.dropped\t"
  8 Trans_Per_Minute_Peak "server.trans.perminute.peak\t"
  9 Trans_Total "server.trans.total\t"
  10 Users_Peak "server.users.peak\t"
  11 Users_Active_30_Min "server.users.active30min\t"
  12 Users "server.users\t"
  13 Expansion_Factor "server.expansionfactor\t"
table Velora_Server64 version=1 separator== columns=16
  0 Server_Name "server.availabilityindex"
  1 Version_OS "server.version.os\t"
  2 Version_Vaxel "server.version.vaxel\t"
  3 Vaxel_Buildnumber "server.version.vaxel.buildnumber\t"
  4 Server_Time_Start "server.time.start\t"
  5 Availability_Index "server.availabilityindex\t"
  6 Availability_Threshold "server.availabilitythreshold\t"
  7 Sessions_Dropped "server.sessions.dropped\t"
  8 Trans_Per_Minute_Peak "server.trans.perminute.peak\t"
  9 Trans_Total "server.trans.total\t"
  10 Users_Peak "server.users.peak\t"
  11 Users_Active_30_Min "server.users.active30min\t"
  12 Users "server.users\t"
  13 Expansion_Factor "server.expansionfactor\t"
  14 Trans_Per_Minute "server.trans.perminute\t"
  15 Response_Time "server.dummyresponsetime\t"
table Velora_Server_Cluster version=1 separator== columns=14
  0 Server_Name "server.cluster."
  1 Open_Redir_Failover_Success "server.cluster.openredirects.failover.successful\t"
  2 Open_Redir_Failover_Unsucc "server.cluster.openredirects.failover.unsuccessful\t"
  3 Open_Redir_Fover_By_Pth_Suc "server.cluster.openredirects.failoverbypath.successful\t"
  4 Open_Redir_Fover_By_Pth_Unsuc "server.cluster.openredirects.failoverbypath.unsuccessful\t"
  5 Open_Redir_Load_Bal_Succ_Tot "server.cluster.openredirects.loadbalance.successful\t"
  6 Open_Redir_Load_Bal_Unsuc_Tot "server.cluster.openredirects.loadbalance.unsuccessful\t"
  7 Open_Redir_Load_Bal_Pth_Unsuc "server.cluster.openredirects.loadbalancebypath.unsuccessful\t"
  8 Open_Redir_Load_Bal_Pth_Succ "server.cluster.openredirects.loadbalancebypath.successful\t"
  9 Open_Req_Cluster_Busy "server.cluster.openrequest.clusterbusy\t"
  10 Open_Req_Db_Out_Of_Service "server.cluster.openrequest.databaseoutofservice\t"
  11 Open_Req_Load_Balanced "server.cluster.openrequest.loadbalanced\t"
  12 Probe_Count "server.cluster.probecount\t"
  13 Probe_Error "server.cluster.probeerror\t"
table Velora_ICM version=1 separator== columns=33
  0 Server_Name "icm."
  1 Availability_Index "icm.availabilityindex\t"
  2 Cmd_Total "icm.command.total\t"
  3 Cmd_Unknown "icm.command.unknown\t"
  4 Cmd_Redirects_Successful "icm.command.redirects.successful\t"
  5 Cmd_Redirects_Unsuccessful "icm.command.redirects.unsuccessful\t"
  6 Cmd_Redirects_Cluster_Busy "icm.command.redirects.clusterbusy\t"
  7 Receive_Error "icm.receive.error\t"
  8 Requests_Per_1Hour "icm.requests.per1hour.total\t"
  9 Requests_Per_1Minute "icm.requests.per1minute.total\t"
  10 Requests_Per_5Minutes "icm.requests.per5minutes.total\t"
  11 Server_Running "icm.server.running\t"
  12 Sess_Inbound_Accept_Queue "icm.sessions.inbound.accept.queue\t"
  13 Sess_Inbound_Active "icm.sessions.inbound.active\t"
  14 Sess_Inbound_Active_SSL "icm.sessions.inbound.active.ssl\t"
  15 Sess_Inbound_Bytes_Received "icm.sessions.inbound.bytesreceived\t"
  16 Sess_Inbound_Bytes_Sent "icm.sessions.inbound.bytessent\t"
  17 Sess_Inbound_Peak "icm.sessions.inbound.peak\t"
  18 Sess_Inbound_SSL "icm.sessions.inbound.ssl\t"
  19 Sess_Inbound_Total "icm.sessions.inbound.total\t"
  20 Sess_Inbound_Total_SSL "icm.sessions.inbound.total.ssl\t"
  21 Sess_Outbound_Active "icm.sessions.outbound.active\t"
  22 Sess_Outbound_Active_SSL "icm.sessions.outbound.active.ssl\t"
  23 Sess_Outbound_Bytes_Received "icm.sessions.outbound.bytesreceived\t"
  24 Sess_Outbound_Bytes_Sent "icm.sessions.outbound.bytessent\t"
  25 Sess_Outbound_Peak "icm.sessions.outbound.peak\t"
  26 Sess_Outbound_Peak_SSL "icm.sessions.outbound.peak.ssl\t"
  27 Sess_Outbound_Total "icm.sessions.outbound.total\t"
  28 Sess_Outbound_Total_SSL "icm.sessions.outbound.total.ssl\t"
  29 Sess_Threads_Busy "icm.sessions.threads.busy\t"
  30 Sess_Threads_Idle "icm.sessions.threads.idle\t"
  31 Sess_Threads_In_Thread_Pool "icm.sessions.threads.inthreadpool\t"
  32 Sess_Threads_Peak "icm.sessions.threads.peak\t"
table Velora_ICM64 version=1 separator== columns=33
  0 Server_Name "icm."
  1 Availability_Index "icm.availabilityindex\t"
  2 Cmd_Total "icm.command.total\t"
  3 Cmd_Unknown "icm.command.unknown\t"
  4 Cmd_Redirects_Successful "icm.command.redirects.successful\t"
  5 Cmd_Redirects_Unsuccessful "icm.command.redirects.unsuccessful\t"
  6 Cmd_Redirects_Cluster_Busy "icm.command.redirects.clusterbusy\t"
  7 Receive_Error "icm.receive.error\t"
  8 Requests_Per_1Hour "icm.requests.per1hour.total\t"
  9 Requests_Per_1Minute "icm.requests.per1minute.total\t"
  10 Requests_Per_5Minutes "icm.requests.per5minutes.total\t"
  11 Server_Running "icm.server.running\t"
  12 Sess_Inbound_Accept_Queue "icm.sessions.inbound.accept.queue\t"
  13 Sess_Inbound_Active "icm.sessions.inbound.active\t"
  14 Sess_Inbound_Active_SSL "icm.sessions.inbound.active.ssl\t"
  15 Sess_Inbound_Bytes_Received "icm.sessions.inbound.bytesreceived\t"
  16 Sess_Inbound_Bytes_Sent "icm.sessions.inbound.bytessent\t"
  17 Sess_Inbound_Peak "icm.sessions.inbound.peak\t"
  18 Sess_Inbound_SSL "icm.sessions.inbound.ssl\t"
  19 Sess_Inbound_Total "icm.sessions.inbound.total\t"
  20 Sess_Inbound_Total_SSL "icm.sessions.inbound.total.ssl\t"
  21 Sess_Outbound_Active "icm.sessions.outbound.active\t"
  22 Sess_Outbound_Active_SSL "icm.sessions.outbound.active.ssl\t"
  23 Sess_Outbound_Bytes_Received "icm.sessions.outbound.bytesreceived\t"
  24 Sess_Outbound_Bytes_Sent "icm.sessions.outbound.bytessent\t"
  25 Sess_Outbound_Peak "icm.sessions.outbound.peak\t"
  26 Sess_Outbound_Peak_SSL "icm.sessions.outbound.peak.ssl\t"
  27 Sess_Outbound_Total "icm.sessions.outbound.total\t"
  28 Sess_Outbound_Total_SSL "icm.sessions.outbound.total.ssl\t"
  29 Sess_Threads_Busy "icm.sessions.threads.busy\t"
  30 Sess_Threads_Idle "icm.sessions.threads.idle\t"
  31 Sess_Threads_In_Thread_Pool "icm.sessions.threads.inthreadpool\t"
  32 Sess_Threads_Peak "icm.sessions.threads.peak\t"
table Velora_Database version=1 separator== columns=19
  0 Server_Name "database.dafailovercount"
  1 DA_Refresh_Server_Info_Count "darefreshserverinfocount\t"
  2 DA_Reload_Count "dareloadcount\t"
  3 Buffer_Pool_Max_MB "database.bufferpool.maximum.megabytes\t"
  4 Buffer_Pool_MM_Reads "database.bufferpool.mm.reads\t"
  5 Buffer_Pool_MM_Writes "database.bufferpool.mm.writes\t"
  6 BufferPool_Peak_MB "database.bufferpool.peak.megabytes\t"
  7 Buffer_Pool_Pct_Reads_In_Buf "database.bufferpool.percentreadsinbuffer\t"
  8 Db_Cache_Current_Entries "dbcache.currententries\t"
  9 Db_Cache_High_Water_Mark "dbcache.highwatermark\t"
  10 Db_Cache_Hits "dbcache.hits\t"
  11 Db_Cache_Initial_Db_Opens "dbcache.initialdbopens\t"
  12 Db_Cache_Lookups "dbcache.lookups\t"
  13 Db_Cache_Max_Entries "dbcache.maxentries\t"
  14 Db_Cache_Overcrowd_Rej "dbcache.overcrowdingrejections\t"
  15 VDB_Pool_Peak "vdbpool.peak\t"
  16 VDB_Pool_Used "vdbpool.used\t"
  17 VDB_Replicate_Vaxel_Received "vdb.replicate.vaxelreceived\t"
  18 VDB_Replicate_Vaxel_Sent "vdb.replicate.vaxelsent\t"
table Velora_Database64 version=1 separator== columns=19
  0 Server_Name "database.dafailovercount"
  1 DA_Refresh_Server_Info_Count "darefreshserverinfocount\t"
  2 DA_Reload_Count "dareloadcount\t"
  3 Buffer_Pool_Max_MB "database.bufferpool.maximum.megabytes\t"
  4 Buffer_Pool_MM_Reads "database.bufferpool.mm.reads\t"
  5 Buffer_Pool_MM_Writes "database.bufferpool.mm.writes\t"
  6 BufferPool_Peak_MB "database.bufferpool.peak.megabytes\t"
  7 Buffer_Pool_Pct_Reads_In_Buf "database.bufferpool.percentreadsinbuffer\t"
  8 Db_Cache_Current_Entries "dbcache.currententries\t"
  9 Db_Cache_High_Water_Mark "dbcache.highwatermark\t"
  10 Db_Cache_Hits "dbcache.hits\t"
  11 Db_Cache_Initial_Db_Opens "dbcache.initialdbopens\t"
  12 Db_Cache_Lookups "dbcache.lookups\t"
  13 Db_Cache_Max_Entries "dbcache.maxentries\t"
  14 Db_Cache_Overcrowd_Rej "dbcache.overcrowdingrejections\t"
  15 VDB_Pool_Peak "vdbpool.peak\t"
  16 VDB_Pool_Used "vdbpool.used\t"
  17 VDB_Replicate_Vaxel_Received "vdb.replicate.vaxelreceived\t"
  18 VDB_Replicate_Vaxel_Sent "vdb.replicate.vaxelsent\t"
table Velora_Mail_By_Dest version=1 separator== columns=6
  0 Server_Name "mailbydest."
  1 Destination_Server ""
  2 Total_Routed ".totalrouted\t"
  3 Transferred ".transferred\t"
  4 Delivered ".delivered\t"
  5 Total_KB_Transferred ".totalkbtransferred\t"
table Velora_Mail_By_Dest64 version=1 separator== columns=6
  0 Server_Name "mailbydest."
  1 Destination_Server ""
  2 Total_Routed ".totalrouted\t"
  3 Transferred ".transferred\t"
  4 Delivered ".delivered\t"
  5 Total_KB_Transferred ".totalkbtransferred\t"
table Velora_SMTP version=1 separator== columns=7
  0 Server_Name "smtp."
  1 Sess_Inbound_Accept_Queue "smtp.sessions.inbound.accept.queue\t"
  2 Sess_Inbound_Active "smtp.sessions.inbound.active\t"
  3 Sess_Inbound_Total "smtp.sessions.inbound.total\t"
  4 Sess_Inbound_Bytes_Received "smtp.sessions.inbound.bytesreceived\t"
  5 Sess_Inbound_Bytes_Sent "smtp.sessions.inbound.bytessent\t"
  6 Sess_Inbound_Peak "smtp.sessions.inbound.peak\t"
table Velora_SMTP64 version=1 separator== columns=9
  0 Server_Name "smtp."
  1 Sess_Inbound_Accept_Queue "smtp.sessions.inbound.accept.queue\t"
  2 Sess_Inbound_Active "smtp.sessions.inbound.active\t"
  3 Sess_Inbound_Total "smtp.sessions.inbound.total\t"
  4 Sess_Inbound_Bytes_Received "smtp.sessions.inbound.bytesreceived\t"
  5 Sess_Inbound_Bytes_Sent "smtp.sessions.inbound.bytessent\t"
  6 Sess_Inbound_Peak "smtp.sessions.inbound.peak\t"
  7 Sess_Inbound_KB_Received_Interval "smtp.sessions.inbound.kbreceivedinterval\t"
  8 Sess_Inbound_KB_Sent_Interval "smtp.sessions.inbound.kbsentinterval\t"
table Velora_IMAP version=1 separator== columns=10
  0 Server_Name "imap.sessions."
  1 Sess_Accept_Queue "imap.sessions.accept.queue\t"
  2 Sess_Active "imap.sessions.active\t"
  3 Sess_Inbound_Bytes_Received "imap.sessions.inbound.bytesreceived\t"
  4 Sess_Inbound_Bytes_Sent "imap.sessions.inbound.bytessent\t"
  5 Sess_Inbound_Non_SSL "imap.sessions.inbound.non-ssl\t"
  6 Sess_Peak "imap.sessions.peak\t"
  7 Sess_Threads_Busy "imap.sessions.threads.busy\t"
  8 Sess_Threads_Idle "imap.sessions.threads.idle\t"
  9 Sess_Total "imap.sessions.total\t"
table Velora_IMAP64 version=1 separator== columns=10
  0 Server_Name "imap.sessions."
  1 Sess_Accept_Queue "imap.sessions.accept.queue\t"
  2 Sess_Active "imap.sessions.active\t"
  3 Sess_Inbound_Bytes_Received "imap.sessions.inbound.bytesreceived\t"
  4 Sess_Inbound_Bytes_Sent "imap.sessions.inbound.bytessent\t"
  5 Sess_Inbound_Non_SSL "imap.sessions.inbound.non-ssl\t"
  6 Sess_Peak "imap.sessions.peak\t"
  7 Sess_Threads_Busy "imap.sessions.threads.busy\t"
  8 Sess_Threads_Idle "imap.sessions.threads.idle\t"
  9 Sess_Total "imap.sessions.total\t"
table Velora_Agent version=1 separator== columns=5
  0 Server_Name "agent.daily."
  1 Daily_Access_Denials "agent.daily.accessdenials\t"
  2 Daily_Unsuccessful_Runs "agent.daily.unsuccessfulruns\t"
  3 Daily_Scheduled_Runs "agent.daily.scheduledruns\t"
  4 Daily_Triggered_Runs "agent.daily.triggeredruns\t"
table Velora_Replica version=1 separator== columns=6
  0 Server_Name "replica."
  1 Successful "replica.successful\t"
  2 Failed "replica.failed\t"
  3 Docs_Added "replica.docs.added\t"
  4 Docs_Updated "replica.docs.updated\t"
  5 Docs_Deleted "replica.docs.deleted\t"
table Velora_Replica64 version=1 separator== columns=6
  0 Server_Name "replica."
  1 Successful "replica.successful\t"
  2 Failed "replica.failed\t"
  3 Docs_Added "replica.docs.added\t"
  4 Docs_Updated "replica.docs.updated\t"
  5 Docs_Deleted "replica.docs.deleted\t"
table Velora_Replication version=1 separator== columns=9
  0 Server_Name
  1 Destination_Server
  2 Initiated_By
  3 Start_Time
  4 End_Time
  5 DB_Info
  6 Events
  7 Hit_Miss
  8 Duration
table Velora_Tasks version=2 separator== columns=4
  0 Server_Name "server.task\t"
  1 Task_Name ""
  2 Task_Status ""
  3 Task_Status_Duration ""
table Velora_Corrupt_Failover_DB version=1 separator== columns=7
  0 Server_Name
  1 DB_Name
  2 View
  3 State
  4 Failover_Status
  5 Failover_DB
  6 Failover_Server
table Velora_DB_Whitespace version=1 separator== columns=8
  0 Server_Name
  1 DB_Name
  2 DB_Whitespace
  3 DB_Whitespace_Pct
  4 DB_Size
  5 DB_Max_Size
  6 DB_Size_Limit
  7 DB_Warning_Threshold
table Velora_Group_Updates version=1 separator== columns=3
  0 Server_Name
  1 Group_Name
  2 Updates
)";

// Renders one descriptor in the form of kExpected.
std::string render(const QvdTableDescriptor& t) {
  std::ostringstream out;
  out << "table " << t.groupName << " version=" << t.version << " separator=" << t.registerSeparator
      << " columns=" << t.columnCount << "\n";
  for (int i = 0; i < t.columnCount; ++i) {
    out << "  " << i << " " << (t.columns[i] ? t.columns[i] : "(null)");
    if (t.keywords != nullptr) {
      out << " \"";
      for (const char* k = t.keywords[i]; k != nullptr && *k != '\0'; ++k) {
        if (*k == '\t') out << "\\t"; else out << *k;
      }
      out << "\"";
    }
    out << "\n";
  }
  return out.str();
}

// Splits kExpected into its per-group blocks.
std::vector<std::string> expectedBlocks() {
  std::vector<std::string> blocks;
  std::istringstream in(kExpected);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.compare(0, 6, "table ") == 0) blocks.emplace_back();
    blocks.back() += line + "\n";
  }
  return blocks;
}

TEST(Catalogue, EveryGroupMatchesTheAgentsCatalogueInRegistrationOrder) {
  std::vector<std::string> expected = expectedBlocks();
  ASSERT_EQ(expected.size(), 41u);
  ASSERT_EQ(kQvdTableCount, 41);
  for (int i = 0; i < kQvdTableCount; ++i) {
    EXPECT_EQ(render(qvdTableCatalogue[i]), expected[i]) << "registration position " << i + 1;
  }
}

TEST(Catalogue, DescriptorsUseTheGroupsNamedGlobals) {
  int position = 0;
#define CHECK_GROUP(name, count)                                                  \
  {                                                                               \
    const QvdTableDescriptor& t = qvdTableCatalogue[position++];                  \
    EXPECT_STREQ(t.groupName, #name);                                             \
    EXPECT_STREQ(name##_Handle, #name);                                           \
    EXPECT_EQ(tableToken(&t), static_cast<void*>(&name##_Handle)) << #name;        \
    EXPECT_EQ(t.values, name) << #name;                                           \
    EXPECT_EQ(t.columns, name##_Column) << #name;                                 \
    if (t.keywords != nullptr) {                                                  \
      EXPECT_EQ(t.keywords, name##_Keyword) << #name;                             \
    }                                                                             \
    EXPECT_EQ(t.columnCount, name##_ColumnCount) << #name;                        \
    EXPECT_EQ(sizeof(name) / sizeof(name[0]), static_cast<size_t>(count));        \
  }
  QVD_TABLE_GROUPS(CHECK_GROUP)
#undef CHECK_GROUP
  EXPECT_EQ(position, kQvdTableCount);
}

TEST(Catalogue, LookupByNameIsExactAndByTokenIsByIdentity) {
  std::set<const void*> tokens;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    EXPECT_TRUE(tokens.insert(tableToken(&t)).second) << t.groupName << " shares a token";
    EXPECT_EQ(findTableDescriptor(t.groupName), &t);
    EXPECT_EQ(findTableDescriptorByToken(tableToken(&t)), &t);
  }
  EXPECT_EQ(findTableDescriptor("Velora_Mail"), nullptr);    // MAIL is in capitals
  EXPECT_EQ(findTableDescriptor("velora_MAIL"), nullptr);
  EXPECT_EQ(findTableDescriptor("Velora_MAIL_By_Dest"), nullptr);
  EXPECT_EQ(findTableDescriptor(""), nullptr);
  EXPECT_EQ(findTableDescriptor(nullptr), nullptr);
  // The same text at another address is not a token.
  char copy[] = "Velora_Server";
  EXPECT_EQ(findTableDescriptorByToken(copy), nullptr);
  EXPECT_EQ(findTableDescriptorByToken(nullptr), nullptr);
}

TEST(Catalogue, RegistrationConditionsAndOverridableGroups) {
  std::vector<std::string> conditional, overridable;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    switch (t.condition) {
      case QVD_REGISTER_ALWAYS: break;
      case QVD_REGISTER_IF_LOG_VDB_MONITOR: conditional.push_back(std::string("log:") + t.groupName); break;
      case QVD_REGISTER_IF_CHECK_DB: conditional.push_back(std::string("db:") + t.groupName); break;
      case QVD_REGISTER_IF_GROUP_MONITOR: conditional.push_back(std::string("group:") + t.groupName); break;
    }
    if (t.overridable) overridable.push_back(t.groupName);
  }
  EXPECT_EQ(conditional, (std::vector<std::string>{"log:Velora_Replication", "db:Velora_Corrupt_Failover_DB",
                                                   "db:Velora_DB_Whitespace", "group:Velora_Group_Updates"}));
  EXPECT_EQ(overridable.size(), 28u);
  for (const std::string& name : overridable) EXPECT_EQ(name.compare(0, 7, "Velora_"), 0) << name;
  EXPECT_FALSE(findTableDescriptor("Velora_Tasks")->overridable);
}

TEST(Catalogue, NewSnapshotClearsSlotZeroOfEveryGroupAnsweredFromIt) {
  static char marker[] = "server";
  for (const QvdTableDescriptor& t : qvdTableCatalogue) t.values[0] = marker;
  clearSnapshotSlots();
  std::vector<std::string> kept;
  int cleared = 0;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    if (t.values[0] == nullptr) ++cleared; else kept.push_back(t.groupName);
    t.values[0] = nullptr;
  }
  EXPECT_EQ(cleared, 37);
  EXPECT_EQ(kept, (std::vector<std::string>{"MV_Server", "Velora_Corrupt_Failover_DB",
                                            "Velora_DB_Whitespace", "Velora_Group_Updates"}));
}

}  // namespace
