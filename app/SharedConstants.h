#pragma once

// Constants shared by the whole gateway: the network server's JSON vocabulary, the LoRaWAN
// frame-type names, the window title, date formats, settings keys and file names.

#include <QString>
#include <QStringList>

namespace Vocabulary {

// Commands and message names (the value of "cmd").
namespace Cmd {
inline const QString manage_gateways = QStringLiteral("manage_gateways");
inline const QString manage_devices = QStringLiteral("manage_devices");
inline const QString get_coverage_map = QStringLiteral("get_coverage_map");
inline const QString delete_device_appdata = QStringLiteral("delete_device_appdata");
inline const QString delete_gateways = QStringLiteral("delete_gateways");
inline const QString delete_devices = QStringLiteral("delete_devices");
inline const QString delete_users = QStringLiteral("delete_users");
inline const QString get_gateways = QStringLiteral("get_gateways");
inline const QString get_device_appdata = QStringLiteral("get_device_appdata");
inline const QString get_data = QStringLiteral("get_data");
inline const QString get_devices = QStringLiteral("get_devices");
inline const QString get_device_downlink_queue = QStringLiteral("get_device_downlink_queue");
inline const QString get_users = QStringLiteral("get_users");
inline const QString manage_device_downlink_queue = QStringLiteral("manage_device_downlink_queue");
inline const QString send_data = QStringLiteral("send_data");
inline const QString tx = QStringLiteral("tx");
inline const QString manage_users = QStringLiteral("manage_users");
inline const QString manage_device_appdata = QStringLiteral("manage_device_appdata");
inline const QString manage_gateways_req = QStringLiteral("manage_gateways_req");
inline const QString manage_gateways_resp = QStringLiteral("manage_gateways_resp");
inline const QString manage_devices_req = QStringLiteral("manage_devices_req");
inline const QString manage_devices_resp = QStringLiteral("manage_devices_resp");
inline const QString alter_user_resp = QStringLiteral("alter_user_resp");
inline const QString auth_req = QStringLiteral("auth_req");
inline const QString auth_resp = QStringLiteral("auth_resp");
inline const QString close_auth_req = QStringLiteral("close_auth_req");
inline const QString close_auth_resp = QStringLiteral("close_auth_resp");
inline const QString console = QStringLiteral("console");
inline const QString delete_device_appdata_req = QStringLiteral("delete_device_appdata_req");
inline const QString delete_device_appdata_resp = QStringLiteral("delete_device_appdata_resp");
inline const QString delete_gateways_req = QStringLiteral("delete_gateways_req");
inline const QString delete_gateways_resp = QStringLiteral("delete_gateways_resp");
inline const QString delete_devices_req = QStringLiteral("delete_devices_req");
inline const QString delete_devices_resp = QStringLiteral("delete_devices_resp");
inline const QString delete_users_req = QStringLiteral("delete_users_req");
inline const QString delete_users_resp = QStringLiteral("delete_users_resp");
inline const QString get_gateways_req = QStringLiteral("get_gateways_req");
inline const QString get_gateways_resp = QStringLiteral("get_gateways_resp");
inline const QString get_coverage_map_req = QStringLiteral("get_coverage_map_req");
inline const QString get_coverage_map_resp = QStringLiteral("get_coverage_map_resp");
inline const QString get_device_appdata_req = QStringLiteral("get_device_appdata_req");
inline const QString get_device_appdata_resp = QStringLiteral("get_device_appdata_resp");
inline const QString get_data_req = QStringLiteral("get_data_req");
inline const QString get_data_resp = QStringLiteral("get_data_resp");
inline const QString get_device_downlink_queue_req
    = QStringLiteral("get_device_downlink_queue_req");
inline const QString get_device_downlink_queue_resp
    = QStringLiteral("get_device_downlink_queue_resp");
inline const QString get_devices_req = QStringLiteral("get_devices_req");
inline const QString get_devices_resp = QStringLiteral("get_devices_resp");
inline const QString get_users_req = QStringLiteral("get_users_req");
inline const QString get_users_resp = QStringLiteral("get_users_resp");
inline const QString manage_device_downlink_queue_req
    = QStringLiteral("manage_device_downlink_queue_req");
inline const QString manage_device_downlink_queue_resp
    = QStringLiteral("manage_device_downlink_queue_resp");
inline const QString rx = QStringLiteral("rx");
inline const QString send_data_req = QStringLiteral("send_data_req");
inline const QString send_data_resp = QStringLiteral("send_data_resp");
inline const QString token_auth_req = QStringLiteral("token_auth_req");
inline const QString token_auth_resp = QStringLiteral("token_auth_resp");
inline const QString manage_users_req = QStringLiteral("manage_users_req");
inline const QString manage_users_resp = QStringLiteral("manage_users_resp");
inline const QString manage_device_appdata_req = QStringLiteral("manage_device_appdata_req");
inline const QString manage_device_appdata_resp = QStringLiteral("manage_device_appdata_resp");
inline const QString tx_2 = QStringLiteral("tx"); // direction name, declared twice
} // namespace Cmd

// JSON keys.
namespace Key {
inline const QString ABP = QStringLiteral("ABP");
inline const QString appsKey = QStringLiteral("appsKey");
inline const QString devAddress = QStringLiteral("devAddress");
inline const QString nwksKey = QStringLiteral("nwksKey");
inline const QString ack = QStringLiteral("ack");
inline const QString action = QStringLiteral("action");
inline const QString add_user_list = QStringLiteral("add_user_list");
inline const QString adr = QStringLiteral("adr");
inline const QString append_status = QStringLiteral("append_status");
inline const QString appEui_list = QStringLiteral("appEui_list");
inline const QString begin_index = QStringLiteral("begin_index");
inline const QString active = QStringLiteral("active");
inline const QString gateway_list = QStringLiteral("gateway_list");
inline const QString gateway_add_status = QStringLiteral("gateway_add_status");
inline const QString settingsApplyStatus = QStringLiteral("settingsApplyStatus");
inline const QString channelMaskApllied = QStringLiteral("channelMaskApllied");
inline const QString freq4Applied = QStringLiteral("freq4Applied");
inline const QString freq5Applied = QStringLiteral("freq5Applied");
inline const QString freq6Applied = QStringLiteral("freq6Applied");
inline const QString freq7Applied = QStringLiteral("freq7Applied");
inline const QString freq8Applied = QStringLiteral("freq8Applied");
inline const QString delayRx1Applied = QStringLiteral("delayRx1Applied");
inline const QString drRx2Applied = QStringLiteral("drRx2Applied");
inline const QString freqRx2Applied = QStringLiteral("freqRx2Applied");
inline const QString channel10En = QStringLiteral("channel10En");
inline const QString channel11En = QStringLiteral("channel11En");
inline const QString channel12En = QStringLiteral("channel12En");
inline const QString channel13En = QStringLiteral("channel13En");
inline const QString channel14En = QStringLiteral("channel14En");
inline const QString channel15En = QStringLiteral("channel15En");
inline const QString channel16En = QStringLiteral("channel16En");
inline const QString channel1En = QStringLiteral("channel1En");
inline const QString channel2En = QStringLiteral("channel2En");
inline const QString channel3En = QStringLiteral("channel3En");
inline const QString channel4En = QStringLiteral("channel4En");
inline const QString channel5En = QStringLiteral("channel5En");
inline const QString channel6En = QStringLiteral("channel6En");
inline const QString channel7En = QStringLiteral("channel7En");
inline const QString channel8En = QStringLiteral("channel8En");
inline const QString channel9En = QStringLiteral("channel9En");
inline const QString channelMask = QStringLiteral("channelMask");
inline const QString class_ = QStringLiteral("class");
inline const QString cmd = QStringLiteral("cmd");
inline const QString command_list = QStringLiteral("command_list");
inline const QString color = QStringLiteral("color");
inline const QString companionGateway = QStringLiteral("companionGateway");
inline const QString consoleEnable = QStringLiteral("consoleEnable");
inline const QString data = QStringLiteral("data");
inline const QString data_list = QStringLiteral("data_list");
inline const QString date_from = QStringLiteral("date_from");
inline const QString date_to = QStringLiteral("date_to");
inline const QString delayJoin1 = QStringLiteral("delayJoin1");
inline const QString delayJoin2 = QStringLiteral("delayJoin2");
inline const QString delayRx1 = QStringLiteral("delayRx1");
inline const QString delayRx2 = QStringLiteral("delayRx2");
inline const QString deleted = QStringLiteral("deleted");
inline const QString delete_keys = QStringLiteral("delete_keys");
inline const QString delete_status = QStringLiteral("delete_status");
inline const QString delete_user_list = QStringLiteral("delete_user_list");
inline const QString device_access = QStringLiteral("device_access");
inline const QString FULL = QStringLiteral("FULL");
inline const QString SELECTED = QStringLiteral("SELECTED");
inline const QString devEui = QStringLiteral("devEui");
inline const QString devEui_list = QStringLiteral("devEui_list");
inline const QString devices_list = QStringLiteral("devices_list");
inline const QString devName = QStringLiteral("devName");
inline const QString device_add_status = QStringLiteral("device_add_status");
inline const QString direction = QStringLiteral("direction");
inline const QString downlinkChannel = QStringLiteral("downlinkChannel");
inline const QString dr = QStringLiteral("dr");
inline const QString drRx2 = QStringLiteral("drRx2");
inline const QString err_string = QStringLiteral("err_string");
inline const QString withMacCommands = QStringLiteral("withMacCommands");
inline const QString withMacCommands_2 = QStringLiteral("withMacCommands"); // declared twice
inline const QString extraInfo = QStringLiteral("extraInfo");
inline const QString fcnt = QStringLiteral("fcnt");
inline const QString fcnt_down = QStringLiteral("fcnt_down");
inline const QString fcnt_up = QStringLiteral("fcnt_up");
inline const QString freq4 = QStringLiteral("freq4");
inline const QString freq5 = QStringLiteral("freq5");
inline const QString freq6 = QStringLiteral("freq6");
inline const QString freq7 = QStringLiteral("freq7");
inline const QString freq8 = QStringLiteral("freq8");
inline const QString freq = QStringLiteral("freq");
inline const QString frequencyPlan = QStringLiteral("frequencyPlan");
inline const QString freqRx2 = QStringLiteral("freqRx2");
inline const QString hex = QStringLiteral("hex");
inline const QString keyword = QStringLiteral("keyword");
inline const QString last_data_ts = QStringLiteral("last_data_ts");
inline const QString lastOnline = QStringLiteral("lastOnline");
inline const QString lastRssi = QStringLiteral("lastRssi");
inline const QString lastSnr = QStringLiteral("lastSnr");
inline const QString latency = QStringLiteral("latency");
inline const QString limit = QStringLiteral("limit");
inline const QString login = QStringLiteral("login");
inline const QString gatewayId = QStringLiteral("gatewayId");
inline const QString gatewayId_2 = QStringLiteral("gatewayId"); // declared twice
inline const QString macData = QStringLiteral("macData");
inline const QString maxPower = QStringLiteral("maxPower");
inline const QString message = QStringLiteral("message");
inline const QString OTAA = QStringLiteral("OTAA");
inline const QString appEui = QStringLiteral("appEui");
inline const QString appKey = QStringLiteral("appKey");
inline const QString last_join_ts = QStringLiteral("last_join_ts");
inline const QString packetStatus = QStringLiteral("packetStatus");
inline const QString password = QStringLiteral("password");
inline const QString port = QStringLiteral("port");
inline const QString position = QStringLiteral("position");
inline const QString altitude = QStringLiteral("altitude");
inline const QString latitude = QStringLiteral("latitude");
inline const QString longitude = QStringLiteral("longitude");
inline const QString preferDr = QStringLiteral("preferDr");
inline const QString preferPower = QStringLiteral("preferPower");
inline const QString queue_manage_status = QStringLiteral("queue_manage_status");
inline const QString reactionTime = QStringLiteral("reactionTime");
inline const QString rssi = QStringLiteral("rssi");
inline const QString rxOnly = QStringLiteral("rxOnly");
inline const QString rx_settings = QStringLiteral("rx_settings");
inline const QString rxWindow = QStringLiteral("rxWindow");
inline const QString select = QStringLiteral("select");
inline const QString serverAdrEnable = QStringLiteral("serverAdrEnable");
inline const QString snr = QStringLiteral("snr");
inline const QString status = QStringLiteral("status");
inline const QString token = QStringLiteral("token");
inline const QString totalNum = QStringLiteral("totalNum");
inline const QString ts = QStringLiteral("ts");
inline const QString ts_list = QStringLiteral("ts_list");
inline const QString type = QStringLiteral("type");
inline const QString unsolicited = QStringLiteral("unsolicited");
inline const QString update_status = QStringLiteral("update_status");
inline const QString useDownlinkQueueClassC = QStringLiteral("useDownlinkQueueClassC");
inline const QString user_list = QStringLiteral("user_list");
} // namespace Key

// Status values of the server's answers (read by no code).
namespace Status {
inline const QString added = QStringLiteral("added");
inline const QString updateViaMacBuffer = QStringLiteral("updateViaMacBuffer");
inline const QString dataAdded = QStringLiteral("dataAdded");
inline const QString dataIgnored_queueDoNotUsed = QStringLiteral("dataIgnored-queueDoNotUsed");
inline const QString emptyDataForUpdate = QStringLiteral("emptyDataForUpdate");
inline const QString frequencyPlanIsAbsent = QStringLiteral("frequencyPlanIsAbsent");
inline const QString serverInternalError = QStringLiteral("serverInternalError");
inline const QString invalidAbpParamList = QStringLiteral("invalidAbpParamList");
inline const QString invalidAppKeyValue = QStringLiteral("invalidAppKeyValue");
inline const QString invalidChannelMaskParamList = QStringLiteral("invalidChannelMaskParamList");
inline const QString invalidClass = QStringLiteral("invalidClass");
inline const QString invalidDelay = QStringLiteral("invalidDelay");
inline const QString invalidDevAddrValue = QStringLiteral("invalidDevAddrValue");
inline const QString invalidDataRate = QStringLiteral("invalidDataRate");
inline const QString invalidDevEui = QStringLiteral("invalidDevEui");
inline const QString invalidFrequencyPlan = QStringLiteral("invalidFrequencyPlan");
inline const QString invalidOtaaParamList = QStringLiteral("invalidOtaaParamList");
inline const QString invalidPower = QStringLiteral("invalidPower");
inline const QString invalidRxWindow = QStringLiteral("invalidRxWindow");
inline const QString invalidSessionKeyValue = QStringLiteral("invalidSessionKeyValue");
inline const QString maxDevCountReached = QStringLiteral("maxDevCountReached");
inline const QString noRegisterKeys = QStringLiteral("noRegisterKeys");
inline const QString notAdded = QStringLiteral("notAdded");
inline const QString nothingToUpdate = QStringLiteral("nothingToUpdate");
inline const QString abpReginfoAlreadyExist = QStringLiteral("abpReginfoAlreadyExist");
inline const QString repetitionDevAddr = QStringLiteral("repetitionDevAddr");
inline const QString otaaReginfoAlreadyExist = QStringLiteral("otaaReginfoAlreadyExist");
inline const QString reginfoAlreadyExist = QStringLiteral("reginfoAlreadyExist");
inline const QString unsupportClass = QStringLiteral("unsupportClass");
inline const QString updated = QStringLiteral("updated");
} // namespace Status

// Error names of the server's answers (read by no code).
namespace Error {
inline const QString cmd_not_found = QStringLiteral("cmd_not_found");
inline const QString invalidDirection = QStringLiteral("invalidDirection");
inline const QString empty_input_parameter_list = QStringLiteral("empty_input_parameter_list");
inline const QString server_internal_error = QStringLiteral("server_internal_error");
inline const QString inaccessible_command = QStringLiteral("inaccessible_command");
inline const QString inaccessible_devEui = QStringLiteral("inaccessible_devEui");
inline const QString invalid_login_or_password = QStringLiteral("invalid_login_or_password");
inline const QString invalid_cmd = QStringLiteral("invalid_cmd");
inline const QString invalid_json_msg = QStringLiteral("invalid_json_msg");
inline const QString invalid_token = QStringLiteral("invalid_token");
inline const QString unknown_auth = QStringLiteral("unknown_auth");
inline const QString unknown_cmd = QStringLiteral("unknown_cmd");
inline const QString add_data_info = QStringLiteral("add_data_info");
inline const QString no_attributes = QStringLiteral("no_attributes");
inline const QString no_command_and_devEui = QStringLiteral("no_command_and_devEui");
inline const QString no_reginfo = QStringLiteral("no_reginfo");
} // namespace Error

inline const QString dalete = QStringLiteral("dalete");

// LoRaWAN frame types; the index is part of the interface (0 and 2 are the uplinks).
inline const QStringList LoRaMessageTypeNames = {
    QStringLiteral("UNCONF_UP"),            // 0
    QStringLiteral("UNCONF_DOWN"),          // 1
    QStringLiteral("CONF_UP"),              // 2
    QStringLiteral("CONF_DOWN"),            // 3
    QStringLiteral("JOIN_REQ"),             // 4
    QStringLiteral("JOIN_ACC"),             // 5
    QStringLiteral("MAC_LINKCHECK_REQ"),    // 6
    QStringLiteral("MAC_LINKCHECK_ANS"),    // 7
    QStringLiteral("MAC_LINKADR_REQ"),      // 8
    QStringLiteral("MAC_LINKADR_ANS"),      // 9
    QStringLiteral("MAC_DUTYCYCLE_REQ"),    // 10
    QStringLiteral("MAC_DUTYCYCLE_ANS"),    // 11
    QStringLiteral("MAC_RXPARAMSETUP_REQ"), // 12
    QStringLiteral("MAC_RXPARAMSETUP_ANS"), // 13
    QStringLiteral("MAC_DEVSTATUS_REQ"),    // 14
    QStringLiteral("MAC_DEVSTATUS_ANS"),    // 15
    QStringLiteral("MAC_NEWCHAN_REQ"),      // 16
    QStringLiteral("MAC_NEWCHAN_ANS"),      // 17
    QStringLiteral("MAC_RXTIMING_REQ"),     // 18
    QStringLiteral("MAC_RXTIMING_ANS"),     // 19
    QStringLiteral("MAC_TXPARAM_REQ"),      // 20
    QStringLiteral("MAC_TXPARAM_ANS"),      // 21
    QStringLiteral("MAC_DLCHAN_REQ"),       // 22
    QStringLiteral("MAC_DLCHAN_ANS"),       // 23
    QStringLiteral("MAC_PROPRIETARY"),      // 24
};

} // namespace Vocabulary

// Window title: "LoRa Brindle %1%2" with the version and an optional release-candidate suffix.
inline const QString AppVersion = QStringLiteral("1.1.0");
inline const QString AppReleaseCandidate = QString();
inline QString windowTitle()
{
    const QString rc
        = AppReleaseCandidate.isEmpty() ? QString() : QStringLiteral("rc") + AppReleaseCandidate;
    return QStringLiteral("LoRa Brindle %1%2").arg(AppVersion, rc);
}

// Date and time formats.
namespace DateFormat {
inline const QString LogStamp = QStringLiteral("dd-MMM-yy HH:mm:ss.zzz");
inline const QString LastReceive = QStringLiteral("dd-MMM-yy HH:mm:ss");
inline const QString Date = QStringLiteral("dd-MMM-yy");
inline const QString IsoDate = QStringLiteral("yyyy-MM-dd");
inline const QString DateMinutes = QStringLiteral("dd-MMM-yy HH:mm");
inline const QString FileStamp = QStringLiteral("yyyy-MM-dd_hh-mm-ss");
inline const QString DottedStamp = QStringLiteral("dd.MMM.yy HH:mm:ss");
inline const QString DottedStampTwoLines = QStringLiteral("dd.MMM.yy\nHH:mm:ss");
inline const QString IsoStamp = QStringLiteral("yyyy-MM-dd hh:mm:ss");
inline const QString HoursMinutes = QStringLiteral("HH:mm");
inline const QString MinutesSeconds = QStringLiteral("mm:ss");
inline const QString Time = QStringLiteral("HH:mm:ss");
} // namespace DateFormat

// Keys of "settings.conf".
namespace SettingsKey {
inline const QString FileName = QStringLiteral("settings.conf");
inline const QString UseLog = QStringLiteral("use_log");
inline const QString ExpandedLog = QStringLiteral("expanded_log");
inline const QString MaxFilesCounter = QStringLiteral("max_files_counter");
inline const QString FileMaxSize = QStringLiteral("file_max_size");
inline const QString FilesCounter = QStringLiteral("files_counter");
inline const QString ServerGroup = QStringLiteral("server/");
inline const QString ServerIp = ServerGroup + QStringLiteral("ip");
inline const QString ServerPort = ServerGroup + QStringLiteral("port");
inline const QString ServerLogin = ServerGroup + QStringLiteral("login");
inline const QString ServerPassword = ServerGroup + QStringLiteral("password");
// What the log and its settings dialog take when a key is absent.
constexpr int DefaultMaxFilesCounter = 20;
constexpr int DefaultFileMaxSize = 1000000;
} // namespace SettingsKey

// Files in the working directory.
namespace FileNames {
inline const QString LogBaseName = QStringLiteral("history");
inline const QString LogPattern = QStringLiteral("./%1.log");
inline const QString NumberedLogPattern = QStringLiteral("./%1(%2).log");
inline const QString DeviceFolder = QStringLiteral("deviceFolder");
inline const QString TcpTemplateFile = QStringLiteral("TCP.json");
inline const QString Translation = QStringLiteral(":/iot_tarn_modbus.qm");
inline const QString StyleSheet = QStringLiteral("://style/style.qss");
inline const QString WindowIcon = QStringLiteral(":/Icon.png");
} // namespace FileNames

// Data-type words of templates, storage and the views.
namespace DataType {
inline const QString Integer = QStringLiteral("integer");
inline const QString UInteger = QStringLiteral("uinteger");
inline const QString Boolean = QStringLiteral("boolean");
inline const QString Text = QStringLiteral("text");
} // namespace DataType
inline const QStringList DataTypeNames
    = {DataType::Integer, DataType::UInteger, DataType::Boolean, DataType::Text};
