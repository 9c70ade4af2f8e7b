// The zk7prog commands (filled in with the command-line tool).
namespace zk7cli {}
