#include "scan/innertext.h"

#include <QtTest>

#include <memory>
#include <vector>

using namespace tevrin;

namespace {

struct Parsed {
  explicit Parsed(const QString& html) : bytes(html.toUtf8()) {
    options.max_errors = 0;  // gumbo keeps a copy of the open elements with every error
    output = gumbo_parse_with_options(&options, bytes.constData(), size_t(bytes.size()));
  }
  ~Parsed() { gumbo_destroy_output(&options, output); }

  const GumboNode* byId(const char* id) const {
    std::vector<const GumboNode*> stack{output->document};
    while (!stack.empty()) {
      const GumboNode* n = stack.back();
      stack.pop_back();
      const GumboVector* kids = n->type == GUMBO_NODE_DOCUMENT  ? &n->v.document.children
                                : n->type == GUMBO_NODE_ELEMENT ? &n->v.element.children
                                                                : nullptr;
      if (!kids) continue;
      if (n->type == GUMBO_NODE_ELEMENT) {
        const GumboAttribute* a = gumbo_get_attribute(&n->v.element.attributes, "id");
        if (a && qstrcmp(a->value, id) == 0) return n;
      }
      for (unsigned i = kids->length; i-- > 0;) stack.push_back(static_cast<const GumboNode*>(kids->data[i]));
    }
    return nullptr;
  }

  GumboOptions options = kGumboDefaultOptions;
  QByteArray bytes;
  GumboOutput* output;
};

QString TextOf(const QString& html) {
  Parsed p(html);
  const GumboNode* x = p.byId("x");
  if (!x) qFatal("no element with id x in %s", qPrintable(html));
  return InnerText(x);
}

}  // namespace

class TstInnerText : public QObject {
  Q_OBJECT
 private slots:
  // Expected texts follow the rendered-text rules of the HTML standard with the
  // default style sheet, as a browser gives them (checked against one).
  void renderedText_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");  // "\n" stands for the CR LF we give

    // clang-format off
    QTest::newRow("collapse and trim") << "<table><tr><td id=x>  a   b\n c  </td></tr></table>" << "a b c";
    QTest::newRow("br") << "<table><tr><td id=x>abc11804 V<br>SR27500</td></tr></table>"
                        << "abc11804 V\nSR27500";
    QTest::newRow("spaces around br") << "<div id=x>a <br>\n   b</div>" << "a\nb";
    QTest::newRow("two br") << "<div id=x>a<br><br>b<br></div>" << "a\n\nb\n";
    QTest::newRow("across inline elements") << "<div id=x>a <b> b</b> <i>c </i> d</div>" << "a b c d";
    QTest::newRow("paragraphs") << "<div id=x>a<p>b</p>c</div>" << "a\n\nb\n\nc";
    QTest::newRow("paragraph alone") << "<div id=x>  <p> b </p>  </div>" << "b";
    QTest::newRow("blocks") << "<div id=x>a<div>b</div>c</div>" << "a\nb\nc";
    QTest::newRow("nested blocks collapse") << "<div id=x><div><div>a</div></div><div>b</div></div>" << "a\nb";
    QTest::newRow("list") << "<ul id=x>\n<li>one</li>\n<li>two</li>\n</ul>" << "one\ntwo";
    QTest::newRow("table")
        << "<div id=x><table>\n<tr> <td>1</td> <td>2</td> </tr>\n<tr><td>3</td><td>4</td></tr>\n</table></div>"
        << "1\t2\n3\t4";
    QTest::newRow("table in a cell")
        << "<table><tr><td id=x>n<table><tr><td>a</td><td>b</td></tr></table>m</td></tr></table>"
        << "n\na\tb\nm";
    QTest::newRow("row") << "<table><tr id=x>  <td> a </td>  <th>b</th> </tr></table>" << "a\tb";
    QTest::newRow("unclosed cells")
        << "<table><tr><td id=x>one<td>two<tr><td>three</table>" << "one";
    QTest::newRow("implied tbody and rows")
        << "<div id=x><table><td>a<td>b</table></div>" << "a\tb";
    QTest::newRow("not rendered")
        << "<div id=x>a<script>x()</script><style>p{}</style><span hidden>h</span>"
           "<template>t</template><noscript>n</noscript><input type=hidden value=v>b</div>"
        << "ab";
    QTest::newRow("comments") << "<div id=x>a<!-- c -->b <!-- d --> c</div>" << "ab c";
    QTest::newRow("entities and nbsp")
        << "<div id=x>A&amp;B&nbsp;&nbsp;C &#1056;&#x0443; &lt;HD&gt; &quot;q&quot;</div>"
        << QStringLiteral("A&B\u00a0\u00a0C Ру <HD> \"q\"");
    QTest::newRow("nbsp is not trimmed") << "<div id=x>&nbsp;x&nbsp;</div>" << QStringLiteral("\u00a0x\u00a0");
    QTest::newRow("image keeps the space") << "<div id=x>R <img src=r.gif> </div>" << "R ";
    QTest::newRow("pre") << "<div id=x>x<pre>  a\n  b  </pre>y</div>" << "x\n  a\n  b  \ny";
    QTest::newRow("closed details") << "<div id=x><details><summary>s</summary>body</details></div>" << "s";
    QTest::newRow("open details")
        << "<div id=x><details open><summary>s</summary>body</details></div>" << "s\nbody";
    QTest::newRow("tab and newline collapse") << "<div id=x>a\t\tb\r\n\r\nc</div>" << "a b c";
    QTest::newRow("empty") << "<div id=x> <span> </span> </div>" << "";
    // clang-format on
  }
  void renderedText() {
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(TextOf(html), expected.replace(QLatin1String("\n"), QLatin1String("\r\n")));
  }

  void hiddenElementGivesItsTextContent() {
    // An element that is not rendered answers with its raw text, as a browser's does.
    QCOMPARE(TextOf("<div hidden><span id=x> a <b> b</b>\n</span></div>"), QStringLiteral(" a  b\r\n"));
    Parsed p("<html><head><title id=x>T  t</title></head></html>");
    QCOMPARE(InnerText(p.byId("x")), QStringLiteral("T  t"));
    QCOMPARE(InnerText(nullptr), QString());
  }

  void deepNestingIsIterative() {
    constexpr int kLevels = 20000;
    QString html = QStringLiteral("<div id=x>");
    for (int i = 0; i < kLevels; ++i) html += QStringLiteral("<span>");
    html += QStringLiteral(" deep ");
    QCOMPARE(TextOf(html), QStringLiteral("deep"));

    QString tables = QStringLiteral("<div id=x>");
    for (int i = 0; i < kLevels; ++i) tables += QStringLiteral("<table><tr><td>");
    tables += QStringLiteral("z");
    QCOMPARE(TextOf(tables), QStringLiteral("z"));
  }
};

QTEST_GUILESS_MAIN(TstInnerText)
#include "tst_innertext.moc"
