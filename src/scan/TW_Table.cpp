#include "scan/TW_Table.h"

const TTwainName ReturnCodeNames[] = {
    {"TWRC_SUCCESS", 0},
    {"TWRC_FAILURE", 1},
    {"TWRC_CHECKSTATUS", 2},
    {"TWRC_CANCEL", 3},
    {"TWRC_DSEVENT", 4},
    {"TWRC_NOTDSEVENT", 5},
    {"TWRC_XFERDONE", 6},
    {"TWRC_ENDOFLIST", 7},
    {"TWRC_INFONOTSUPPORTED", 8},
    {"TWRC_DATANOTAVAILABLE", 9},
};

const int ReturnCodeCount = static_cast<int>(sizeof(ReturnCodeNames) / sizeof(ReturnCodeNames[0]));

const TTwainName ConditionCodeNames[] = {
    {"TWCC_SUCCESS", 0},
    {"TWCC_BUMMER", 1},
    {"TWCC_LOWMEMORY", 2},
    {"TWCC_NODS", 3},
    {"TWCC_MAXCONNECTIONS", 4},
    {"TWCC_OPERATIONERROR", 5},
    {"TWCC_BADCAP", 6},
    {"TWCC_BADPROTOCOL", 9},
    {"TWCC_BADVALUE", 10},
    {"TWCC_SEQERROR", 11},
    {"TWCC_BADDEST", 12},
    {"TWCC_CAPUNSUPPORTED", 13},
    {"TWCC_CAPBADOPERATION", 14},
    {"TWCC_CAPSEQERROR", 15},
};

const int ConditionCodeCount = static_cast<int>(sizeof(ConditionCodeNames) / sizeof(ConditionCodeNames[0]));

const TTwainName CapabilityNames[] = {
    {"CAP_AUTHOR", 0x1000},
    {"CAP_AUTOFEED", 0x1007},
    {"CAP_AUTOSCAN", 0x1010},
    {"CAP_CAPTION", 0x1001},
    {"CAP_CLEARPAGE", 0x1008},
    {"CAP_CUSTOMDSDATA", 0x1015},
    {"CAP_DEVICEONLINE", 0x100F},
    {"CAP_DUPLEX", 0x1012},
    {"CAP_DUPLEXENABLED", 0x1013},
    {"CAP_ENABLEDSUIONLY", 0x1014},
    {"CAP_ENDORSER", 0x1016},
    {"CAP_EXTENDEDCAPS", 0x1006},
    {"CAP_FEEDERENABLED", 0x1002},
    {"CAP_FEEDERLOADED", 0x1003},
    {"CAP_FEEDPAGE", 0x1009},
    {"CAP_INDICATORS", 0x100B},
    {"CAP_JOBCONTROL", 0x1017},
    {"CAP_PAPERDETECTABLE", 0x100D},
    {"CAP_REWINDPAGE", 0x100A},
    {"CAP_SUPPORTEDCAPS", 0x1005},
    {"CAP_SUPPORTEDCAPSEXT", 0x100C},
    {"CAP_THUMBNAILSENABLED", 0x1011},
    {"CAP_TIMEDATE", 0x1004},
    {"CAP_UICONTROLLABLE", 0x100E},
    {"CAP_XFERCOUNT", 0x0001},
    {"ICAP_AUTOBRIGHT", 0x1100},
    {"ICAP_BITDEPTH", 0x112B},
    {"ICAP_BITDEPTHREDUCTION", 0x112C},
    {"ICAP_BITORDER", 0x111C},
    {"ICAP_BITORDERCODES", 0x1126},
    {"ICAP_BRIGHTNESS", 0x1101},
    {"ICAP_CCITTKFACTOR", 0x111D},
    {"ICAP_COMPRESSION", 0x0100},
    {"ICAP_CONTRAST", 0x1103},
    {"ICAP_CUSTHALFTONE", 0x1104},
    {"ICAP_EXPOSURETIME", 0x1105},
    {"ICAP_EXTIMAGEINFO", 0x112F},
    {"ICAP_FILTER", 0x1106},
    {"ICAP_FLASHUSED", 0x1107},
    {"ICAP_FRAMES", 0x1114},
    {"ICAP_GAMMA", 0x1108},
    {"ICAP_HALFTONES", 0x1109},
    {"ICAP_HIGHLIGHT", 0x110A},
    {"ICAP_IMAGEDATASET", 0x112E},
    {"ICAP_IMAGEFILEFORMAT", 0x110C},
    {"ICAP_JPEGPIXELTYPE", 0x1128},
    {"ICAP_LAMPSTATE", 0x110D},
    {"ICAP_LIGHTPATH", 0x111E},
    {"ICAP_LIGHTSOURCE", 0x110E},
    {"ICAP_MAXFRAMES", 0x111A},
    {"ICAP_MINIMUMHEIGHT", 0x1130},
    {"ICAP_MINIMUMWIDTH", 0x1131},
    {"ICAP_ORIENTATION", 0x1110},
    {"ICAP_PHYSICALHEIGHT", 0x1112},
    {"ICAP_PHYSICALWIDTH", 0x1111},
    {"ICAP_PIXELFLAVOR", 0x111F},
    {"ICAP_PIXELFLAVORCODES", 0x1127},
    {"ICAP_PIXELTYPE", 0x0101},
    {"ICAP_PLANARCHUNKY", 0x1120},
    {"ICAP_ROTATION", 0x1121},
    {"ICAP_SHADOW", 0x1113},
    {"ICAP_SUPPORTEDSIZES", 0x1122},
    {"ICAP_THRESHOLD", 0x1123},
    {"ICAP_TILES", 0x111B},
    {"ICAP_TIMEFILL", 0x112A},
    {"ICAP_UNDEFINEDIMAGESIZE", 0x112D},
    {"ICAP_UNITS", 0x0102},
    {"ICAP_XFERMECH", 0x0103},
    {"ICAP_XNATIVERESOLUTION", 0x1116},
    {"ICAP_XRESOLUTION", 0x1118},
    {"ICAP_XSCALING", 0x1124},
    {"ICAP_YNATIVERESOLUTION", 0x1117},
    {"ICAP_YRESOLUTION", 0x1119},
    {"ICAP_YSCALING", 0x1125},
};

const int CapabilityCount = static_cast<int>(sizeof(CapabilityNames) / sizeof(CapabilityNames[0]));

const TTwainName ContainerNames[] = {
    {"TWON_ARRAY", 3},
    {"TWON_ENUMERATION", 4},
    {"TWON_ONEVALUE", 5},
    {"TWON_RANGE", 6},
};

const int ContainerCount = static_cast<int>(sizeof(ContainerNames) / sizeof(ContainerNames[0]));

const TTwainName ItemTypeNames[] = {
    {"TWTY_INT8", 0},
    {"TWTY_INT16", 1},
    {"TWTY_INT32", 2},
    {"TWTY_UINT8", 3},
    {"TWTY_UINT16", 4},
    {"TWTY_UINT32", 5},
    {"TWTY_BOOL", 6},
    {"TWTY_FIX32", 7},
    {"TWTY_FRAME", 8},
    {"TWTY_STR32", 9},
    {"TWTY_STR64", 10},
    {"TWTY_STR128", 11},
    {"TWTY_STR255", 12},
};

const int ItemTypeCount = static_cast<int>(sizeof(ItemTypeNames) / sizeof(ItemTypeNames[0]));

const TTwainName XferMechNames[] = {
    {"TWSX_NATIVE", 0},
    {"TWSX_FILE", 1},
    {"TWSX_MEMORY", 2},
};

const int XferMechCount = static_cast<int>(sizeof(XferMechNames) / sizeof(XferMechNames[0]));


bool MatchTwainInt(const TTwainName* table, int count, TW_UINT16 value, std::string& dest)
{
    for (int i = 0; i < count; ++i) {
        if (table[i].Value == value) {
            dest = table[i].Name;
            return true;
        }
    }
    return false;
}
