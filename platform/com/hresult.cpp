#include <cstdio>
#include <string>

#include "platform/com/types.h"

std::string SysErrorMessage(HRESULT hr) {
  switch (hr) {
    case S_OK: return "The operation completed successfully";
    case S_FALSE: return "Incorrect function";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_ABORT: return "Operation aborted";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_ACCESSDENIED: return "Access is denied";
    case E_OUTOFMEMORY: return "Not enough storage is available to complete this operation";
    case E_INVALIDARG: return "The parameter is incorrect";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation (or class object is remote)";
    case CLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
    case REGDB_E_READREGDB: return "Could not read key from registry";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
    case CO_E_CLASSSTRING: return "Invalid class string";
    case CO_E_SERVER_EXEC_FAILURE: return "Server execution failed";
    case CO_E_BAD_SERVER_NAME: return "Invalid remote server name specified";
    case RPC_E_SERVER_UNAVAILABLE: return "The RPC server is unavailable";
    case DISP_E_UNKNOWNINTERFACE: return "Unknown interface";
    case DISP_E_MEMBERNOTFOUND: return "Member not found";
    case DISP_E_PARAMNOTFOUND: return "Parameter not found";
    case DISP_E_TYPEMISMATCH: return "Type mismatch";
    case DISP_E_UNKNOWNNAME: return "Unknown name";
    case DISP_E_BADVARTYPE: return "Bad variable type";
    case DISP_E_EXCEPTION: return "Exception occurred";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters";
    case STG_E_INVALIDFUNCTION: return "Unable to perform requested operation";
    case STG_E_INVALIDPOINTER: return "Invalid pointer error";
    case STG_E_READFAULT: return "A disk error occurred during a read operation";
    case STG_E_MEDIUMFULL: return "There is insufficient disk space to complete operation";
    default: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "Unspecified error (0x%08X)", static_cast<uint32_t>(hr));
      return buf;
    }
  }
}
