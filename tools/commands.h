/*
 * The wks tool's subcommands.  Each takes its own arguments (without the
 * subcommand's name), prints its result on standard output and its errors on
 * standard error, and returns the exit status.
 */
#ifndef WKS_TOOL_COMMANDS_H
#define WKS_TOOL_COMMANDS_H

#include <string>
#include <vector>

namespace tool {

using Args = std::vector<std::string>;

int cmd_info(const Args &args);
int cmd_dump(const Args &args);
int cmd_csv(const Args &args);
int cmd_html(const Args &args);
int cmd_convert(const Args &args);
int cmd_compile(const Args &args);
int cmd_decode(const Args &args);
int cmd_import(const Args &args);
int cmd_calc(const Args &args);
// convert --to xlsx: whether args ask for it, and the export itself.
bool wants_export(const Args &args);
int cmd_export(const Args &args);

}  // namespace tool

#endif
