#include "graph.hpp"

#include <map>
#include <sstream>

#include "style.hpp"
#include "tarvik/ox_refhost/xml.hpp"
#include "touched.hpp"

namespace tarvik {
namespace oxpm {
namespace {

std::string node_label(const std::string& id, const ox::version& v) {
  return dot_escape(id) + "\\n" + v.getversion();
}

class dot_writer {
 public:
  dot_writer(const resolution& result, const analysis& facts, const ox::package_spec_manager& specs,
             bool every_installed)
      : result_(result),
        facts_(facts),
        specs_(specs),
        drawn_(every_installed ? std::vector<bool>(facts.installed_count, true)
                               : touched_installed(result, facts, specs)) {}

  std::string render(const std::string& platform) {
    out_ << "digraph \"oxpm\" {\n";
    out_ << "  graph [rankdir=LR, fontname=\"Helvetica\", labelloc=t, label=\"oxpm resolve"
         << (platform.empty() ? std::string() : ", platform " + dot_escape(platform)) << "\"];\n";
    out_ << "  node [fontname=\"Helvetica\", shape=box, style=\"rounded,filled\", "
            "fillcolor=white];\n";
    out_ << "  edge [fontname=\"Helvetica\", fontsize=10];\n";
    installed_nodes();
    request_nodes();
    relation_edges();
    removal_edges();
    broken_edges();
    for (const std::string& line : extra_nodes_) {
      out_ << line;
    }
    out_ << "}\n";
    return out_.str();
  }

 private:
  std::string result_node(int index) const {
    if (static_cast<std::size_t>(index) < facts_.installed_count) {
      return "i" + std::to_string(index);
    }
    for (std::size_t i = 0; i < facts_.install.size(); ++i) {
      if (facts_.install[i].result_index == index) {
        return "r" + std::to_string(i);
      }
    }
    return "i" + std::to_string(index);
  }

  // A node for a relation whose software is absent, one per sref and kind.
  std::string absent_node(const std::string& sref, bool known) {
    const std::string key = (known ? "k:" : "u:") + sref;
    auto found = absent_.find(key);
    if (found != absent_.end()) {
      return found->second;
    }
    const std::string name = "m" + std::to_string(absent_.size());
    absent_[key] = name;
    extra_nodes_.push_back("  \"" + name + "\" [label=\"" + dot_escape(sref) + "\\n" +
                           (known ? "not present" : "no catalog entry") +
                           "\", style=\"rounded,dashed\", color=gray40, fontcolor=gray40];\n");
    return name;
  }

  void installed_nodes() {
    out_ << "  subgraph cluster_installed {\n    label=\"installed\";\n    color=gray70;\n";
    std::size_t untouched = 0;
    for (std::size_t k = 0; k < facts_.installed_count; ++k) {
      if (!drawn_[k]) {
        ++untouched;
        continue;
      }
      const ox::installing_software& entry = result_.resolved[k];
      const bool removed = ox::has_state(entry.state, ox::SOFTWARE_STATE_MARKED_UNINSTALL);
      out_ << "    \"i" << k << "\" [label=\"" << node_label(entry.id, entry.version)
           << (removed ? "\\nto be removed\", style=\"rounded,filled,dashed\", "
                         "fillcolor=\"#eeeeee\", fontcolor=gray40"
                       : "\", fillcolor=\"#e3ecfa\"")
           << "];\n";
    }
    if (untouched > 0) {
      // One node stands for the installed software the request leaves alone.
      out_ << "    \"rest\" [label=\"" << untouched
           << " more installed software\\nuntouched by the request\\n(--all draws them)\", "
              "shape=plaintext, "
              "fontcolor=gray40];\n";
    }
    if (!result_.uninstall.empty()) {
      for (std::size_t u = 0; u < result_.uninstall.size(); ++u) {
        out_ << "    \"u" << u << "\" [label=\"uninstall\\n"
             << dot_escape(result_.uninstall[u].id) << "\", shape=note, fillcolor=\"#fff4d6\"];\n";
      }
    }
    out_ << "  }\n";
  }

  void request_nodes() {
    out_ << "  subgraph cluster_request {\n    label=\"install request, in order\";\n"
            "    color=gray70;\n";
    for (std::size_t i = 0; i < facts_.install.size(); ++i) {
      const entry_report& entry = facts_.install[i];
      std::string look;
      switch (entry.status) {
        case entry_status::passed:
          look = "fillcolor=\"#d8f0d8\"";
          break;
        case entry_status::obsolete:
        case entry_status::failed_dependency:
        case entry_status::failed_compatibility:
          look = "fillcolor=\"#f8d0d0\", color=red, penwidth=2";
          break;
        case entry_status::no_spec_entry:
          look = "style=\"rounded,dashed\", color=orange";
          break;
        case entry_status::not_examined:
          look = "style=\"rounded,dashed\", color=gray60, fontcolor=gray50";
          break;
      }
      out_ << "    \"r" << i << "\" [label=\"" << (i + 1) << ". "
           << node_label(entry.requested.id, entry.requested.version) << "\\n"
           << status_name(entry.status) << "\", " << look << "];\n";
    }
    // Keep the request in its order from top to bottom.
    for (std::size_t i = 1; i < facts_.install.size(); ++i) {
      out_ << "    \"r" << (i - 1) << "\" -> \"r" << i
           << "\" [style=dotted, color=gray70, arrowhead=none, label=\"then\", "
              "fontcolor=gray60];\n";
    }
    out_ << "  }\n";
  }

  static std::string edge_label(const relation_check& check) {
    if (check.kind == relation_check::kind_t::depends) {
      return "depends " + dot_escape(check.version_text);
    }
    return "compatible " + dot_escape(human_ranges(check.versions));
  }

  static const char* failure_note(const relation_check& check) {
    switch (check.outcome) {
      case relation_check::outcome_t::missing:
        return "not present";
      case relation_check::outcome_t::marked:
        return "marked for removal";
      case relation_check::outcome_t::wrong_version:
      case relation_check::outcome_t::out_of_range:
        return "version outside the range";
      case relation_check::outcome_t::unknown_sref:
        return "no catalog entry";
      default:
        return "";
    }
  }

  void judged_edge(std::size_t from, const relation_check& check) {
    std::string target;
    if (check.candidate != kNoPosition) {
      target = result_node(index_of(check.candidate));
    } else {
      target = absent_node(check.sref, check.outcome != relation_check::outcome_t::unknown_sref);
    }
    std::string attributes = "label=\"" + edge_label(check);
    if (!check.ok()) {
      attributes += std::string("\\nFAILED: ") + failure_note(check) +
                    "\", color=red, fontcolor=red, penwidth=2.5";
    } else {
      attributes += "\"";
      if (check.candidate == kNoPosition) {
        attributes += ", color=gray50, fontcolor=gray40";
      }
    }
    if (check.kind == relation_check::kind_t::compatible) {
      attributes += ", style=dashed";
    }
    out_ << "  \"r" << from << "\" -> \"" << target << "\" [" << attributes << "];\n";
  }

  // Relations of entries the walk did not judge: drawn in grey, pointing at
  // the first node that answers to the relation.
  void unjudged_edges(std::size_t from, const entry_report& entry) {
    const auto draw = [&](const std::string& sref, const std::string& text, bool dashed) {
      bool known = false;
      const int answering = first_answering(specs_, result_.resolved, sref, known);
      const std::string target = answering >= 0 ? result_node(answering) : absent_node(sref, known);
      out_ << "  \"r" << from << "\" -> \"" << target << "\" [label=\"" << text
           << " (not examined)\", color=gray60, fontcolor=gray50, style="
           << (dashed ? "dashed" : "solid") << "];\n";
    };
    for (const ox::depend& dep : entry.spec.depends) {
      draw(dep.sref, "depends " + dot_escape(dep.version_text), false);
    }
    for (const ox::compatible& comp : entry.spec.compatibles) {
      draw(comp.sref, "compatible " + dot_escape(human_ranges(comp.versions)), true);
    }
  }

  void relation_edges() {
    for (std::size_t i = 0; i < facts_.install.size(); ++i) {
      const entry_report& entry = facts_.install[i];
      if (entry.result_index >= 0) {
        for (const relation_check& check : entry.relations) {
          judged_edge(i, check);
        }
      } else if (entry.status == entry_status::not_examined && entry.has_spec) {
        unjudged_edges(i, entry);
      }
    }
  }

  void removal_edges() {
    for (std::size_t k = 0; k < facts_.removals.size(); ++k) {
      for (const removal& r : facts_.removals[k]) {
        switch (r.why) {
          case removal::why_t::uninstall_request:
            out_ << "  \"u" << r.by << "\" -> \"i" << k
                 << "\" [label=\"uninstalls\", style=dotted, color=\"#b58900\"];\n";
            break;
          case removal::why_t::replaced:
            out_ << "  \"r" << r.by << "\" -> \"i" << k
                 << "\" [label=\"replaces\", style=dotted, color=gray40];\n";
            break;
          case removal::why_t::uninstalled:
            out_ << "  \"r" << r.by << "\" -> \"i" << k << "\" [label=\"uninstalls "
                 << dot_escape(r.product) << "\", style=dotted, color=gray40];\n";
            break;
        }
      }
    }
  }

  // Installed software left broken: the dependency it loses, to what
  // answers after the request, or to what the request removes when nothing
  // does.
  void broken_edges() {
    for (const broken_dependent& broken : facts_.broken) {
      const ox::internal::relation_decision& check = broken.check;
      const std::string target = check.candidate != kNoPosition
                                     ? result_node(index_of(check.candidate))
                                     : "i" + std::to_string(broken.lost);
      out_ << "  \"i" << broken.record << "\" -> \"" << target << "\" [label=\"depends "
           << dot_escape(check.version_text) << "\\nBROKEN: "
           << (check.candidate != kNoPosition ? "version outside the range" : "removed")
           << "\", color=red, fontcolor=red, penwidth=2.5];\n";
    }
  }

  const resolution& result_;
  const analysis& facts_;
  const ox::package_spec_manager& specs_;
  std::ostringstream out_;
  // Per installed record: whether it has a node.
  const std::vector<bool> drawn_;
  std::map<std::string, std::string> absent_;
  std::vector<std::string> extra_nodes_;
};

}  // namespace

std::string dot_escape(const std::string& text) {
  std::string valid;
  valid.reserve(text.size());
  // Each byte that is not part of well-formed UTF-8 becomes "?"; a NUL,
  // which the check also stops at, is kept for printable() to show.
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t bad = ox_refhost::first_invalid_utf8_byte(text.data() + i, text.size() - i);
    if (bad == std::string::npos) {
      valid.append(text, i, std::string::npos);
      break;
    }
    valid.append(text, i, bad);
    valid += text[i + bad] == '\0' ? '\0' : '?';
    i += bad + 1;
  }
  std::string out;
  for (char c : printable(valid)) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

std::string render_dot(const resolution& result, const analysis& facts,
                       const ox::package_spec_manager& specs, const std::string& platform,
                       bool every_installed) {
  return dot_writer(result, facts, specs, every_installed).render(platform);
}

}  // namespace oxpm
}  // namespace tarvik
