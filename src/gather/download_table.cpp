#include "gather/download_table.h"

QList<TextColumn> DownloadTableColumns() {
    return {{"Filename", 310}, {"Status", 70}, {"CRCPWQ", 0},   {"Size", 0},       {"CRC OK", 0},
            {"Size OK", 0},    {"Recvd", 0},   {"LRcvd", 0},    {"Idle (s)", 50},  {"Code", 50},
            {"Content", 0},    {"Part Size", 70}, {"Attempts", 60}};
}
