#include "sim/messages.h"

#include "serverapi/vaxel.h"

namespace vaxelsim {

namespace {

struct Message {
  unsigned code;
  const char* text;
};

const Message kMessages[] = {
    {VX_NOERROR, "No error"},
    {VX_ERR_FILE_NOT_FOUND, "File does not exist"},
    {VX_ERR_NO_MEMORY, "Insufficient memory"},
    {VX_ERR_INVALID_HANDLE, "Invalid handle"},
    {VX_ERR_BAD_PARAM, "Invalid argument"},
    {VX_ERR_BUFFER_TOO_SMALL, "The result does not fit the buffer"},
    {VX_ERR_TIME_CONVERSION, "Unable to interpret time or date"},
    {VX_ERR_TIME_RANGE, "Time or date is out of range"},
    {VX_ERR_NAME_INVALID, "Invalid server name"},
    {VX_ERR_NOT_INITIALIZED, "The server runtime has not been initialized"},
    {VX_ERR_NOT_VDB, "File is not a database"},
    {VX_ERR_VDB_VERSION, "Database has a newer file version than this release supports"},
    {VX_ERR_ITEM_NOT_FOUND, "Document item not found"},
    {549, "Unable to retrieve server statistics"},
    {VX_ERR_INVALID_NOTE, "Invalid or nonexistent document"},
    {VX_ERR_NOT_MODIFIED, "No documents have been modified since the specified time"},
    {VX_ERR_NOACCESS, "You are not authorized to perform that operation"},
    {VX_ERR_OPEN_FILE, "You are not authorized to access that database"},
    {VX_ERR_LOCAL_ACCESS, "This database is protected against local access"},
    {VX_ERR_COLLECTION_NOT_CREATED, "The collection of this view has not been built"},
    {VX_ERR_NO_MORE_ENTRIES, "No more entries in the directory"},
    {VX_ERR_SERVER_ACCESS_DENIED, "You are not authorized to access the server"},
    {VX_ERR_SERVER_BUSY, "Server is too busy to accept new requests"},
    {VX_ERR_SERVER_NOT_RESPONDING, "Server not responding"},
    {VX_ERR_SERVER_UNKNOWN, "Unable to find path to server"},
    {VX_ERR_NOT_MODELLED, "This operation is not described by the simulated server's model"},
};

}  // namespace

std::string MessageText(unsigned code) {
  for (const Message& m : kMessages)
    if (m.code == code) return m.text;
  return "Unknown server error (code " + std::to_string(code) + ")";
}

}  // namespace vaxelsim
