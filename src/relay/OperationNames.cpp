#include "relay/OperationNames.h"

#include "text/Gbk.h"

namespace relay {

const std::array<std::string, kOperationCount> OperationNames = {
    "DL",   "XGMM", "KT",   "HT",   "BT",   "CT",   "XGTT", "DC",   "TC",   "ZZCC",
    "CPCC", "ZDCX", "KXHZ", "LBKX", "THKX", "YDHZ", "THYD", "ZLQR", "KHKH", "PYKH",
    "DYJZ", "GT",   "CLCC", "ZKMD", "JC",   "DYDC", "GQ",   "LSC",  "XGJQ", "XJJZ",
    "QCJE", "ZZTC", "CPTC", "CLTC", "ZZQC", "CPQC", "CLQC"};

const std::string& OperationName(int operation) {
    return IsKnownOperation(operation) ? OperationNames[static_cast<std::size_t>(operation)]
                                       : text::Fixed("未知操作");
}

int FindOperationName(const std::string& name) {
    for (int op = 0; op < kOperationCount; ++op) {
        if (OperationNames[static_cast<std::size_t>(op)] == name) {
            return op;
        }
    }
    return -1;
}

} // namespace relay
