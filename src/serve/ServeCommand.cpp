#include "serve/ServeCommand.h"

#include "serve/Privileges.h"
#include "serve/ServeLoop.h"
#include "serve/ServeOptions.h"
#include "tftp/EndpointText.h"

namespace tarnwick::serve {

int RunServe(const std::vector<std::string>& args, const ServeEnvironment& environment, std::ostream& out,
             std::ostream& err) {
  const ServeParse parsed = ParseServeArguments(args);
  if (!parsed.ok) {
    err << "tarnwick-cli serve: " << parsed.error << '\n' << ServeUsageText();
    return kServeExitUsage;
  }
  const ServeOptions& o = parsed.options;
  if (o.help) {
    out << ServeUsageText();
    return kServeExitDone;
  }
  std::string error;
  const std::vector<int> activated =
      ActivatedSockets(environment.listenPid, environment.listenFds, environment.ownPid, error);
  if (!error.empty()) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitUsage;
  }
  const ListenPlan plan = PlanListening(o.listen, o.port, activated);
  if (!plan.error.empty()) {
    err << "tarnwick-cli serve: " << plan.error << '\n';
    return kServeExitUsage;
  }
  std::vector<std::string> notes;
  std::vector<ServeListener> listeners = BindListeners(plan, notes, error);
  for (const std::string& note : notes) err << "serve: " << note << '\n';
  if (listeners.empty()) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitUsage;
  }
  // Bound: root is no longer needed, and no file may be opened with it.
  if (!DropPrivileges(o.user, error)) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitFailed;
  }
  std::unique_ptr<RootTree> tree = RootTree::Open(o.root, error);
  if (!tree) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitFailed;
  }
  std::unique_ptr<RootFolder> uploadDir;
  if (!o.uploadDir.empty()) {
    uploadDir = RootFolder::OpenRoot(o.uploadDir, error);
    if (!uploadDir) {
      err << "tarnwick-cli serve: --upload-dir: " << error << '\n';
      return kServeExitFailed;
    }
  }
  for (const ServeListener& l : listeners)
    err << "serve: listening on " << tftp::EndpointText(l.local) << '\n';
  err << std::flush;

  ServeLoopSettings settings;
  settings.singlePort = o.singlePort;
  settings.upload = o.upload;
  settings.caps = o.caps;
  settings.admission = o.admission;
  ServeLoop loop(std::move(settings), std::move(listeners), *tree, uploadDir ? *uploadDir : tree->Root(),
                 [&](const TransferRecord& record) {
                   if (o.quiet) return;
                   if (o.logJson)
                     out << FormatJsonLine(record) << std::flush;
                   else
                     err << "serve: " << FormatHumanLine(record) << std::flush;
                 });
  loop.Run(environment.stopRequested);
  return kServeExitDone;
}

}  // namespace tarnwick::serve
