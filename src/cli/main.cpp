// folivex-dl: saves the page images of flip-books from the command line.
#include "cli/cli_app.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  return folivex::RunCli(folivex::CommandLineArguments(argc, argv));
}
