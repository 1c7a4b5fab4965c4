// logset_render FILE: prints the library's text line of every record of a
// log set file, one per line without its "\r\n" ("" for "_FO_" and "_DE_"),
// so that a test can hold another reader's rendering against the library's
// on the same file. Stops at the first record that does not decode, with
// exit status 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "logset/log_record.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: logset_render FILE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "logset_render: cannot read " << argv[1] << "\n";
    return 2;
  }
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t offset = 0;
  while (offset < data.size()) {
    zl::LogRecord record;
    size_t consumed = 0;
    if (!zl::DecodeLogRecord(data.data() + offset, data.size() - offset, &record, &consumed)) {
      std::cerr << "logset_render: bad record at offset " << offset << "\n";
      return 1;
    }
    std::string line = zl::RenderLogRecord(record);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.resize(line.size() - 2);
    }
    std::cout << line << "\n";
    offset += consumed;
  }
  return 0;
}
