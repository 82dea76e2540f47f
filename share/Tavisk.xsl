<?xml version="1.0" encoding="UTF-8"?>
<!--
  Tavisk.xsl: shows a Pelko print log (a printer's daily log or the global
  log) as a readable report. XSLT 1.0, since that is all browsers apply.

  A job entry carries a date and an id; the entry without them whose user is
  "Total" is the file's own total and is never counted as a job.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">

  <xsl:output method="html" encoding="UTF-8" indent="no"
              doctype-system="about:legacy-compat"/>

  <!-- A narrow no-break space between thousands reads the same in any locale
       (patterns must then group with it too). -->
  <xsl:decimal-format name="pelko" grouping-separator="&#x202F;"/>

  <!-- Keyed by the text (string(), so an entry without the element still
       lands in the group of the empty name rather than in none). -->
  <xsl:key name="user" match="entry[date or id]" use="string(user)"/>
  <xsl:key name="printer" match="entry[date or id]" use="string(printer)"/>

  <xsl:variable name="jobs" select="/log/entry[date or id]"/>
  <xsl:variable name="totalEntry"
                select="/log/entry[not(date) and not(id) and user = 'Total'][last()]"/>
  <xsl:variable name="jobPages" select="sum($jobs/pages[number(.) = number(.)])"/>
  <xsl:variable name="jobCost" select="sum($jobs/cost[number(.) = number(.)])"/>
  <xsl:variable name="isGlobal" select="/log/type = 'Global Log'"/>
  <!-- Entries written with LogJobDetails carry their colour and mono pages;
       the pages of the others are not told apart, never taken for mono. A
       log without details shows exactly what it always did. -->
  <xsl:variable name="told" select="$jobs[colorpages]"/>
  <xsl:variable name="untoldPages"
                select="sum($jobs[not(colorpages)]/pages[number(.) = number(.)])"/>
  <!-- The first job of each name stands for its group. -->
  <xsl:variable name="userLeaders"
                select="$jobs[generate-id() = generate-id(key('user', string(user))[1])]"/>
  <xsl:variable name="printerLeaders"
                select="$jobs[generate-id() = generate-id(key('printer', string(printer))[1])]"/>

  <xsl:template match="/">
    <html lang="en">
      <head>
        <meta name="viewport" content="width=device-width, initial-scale=1"/>
        <title>
          <xsl:text>Print report: </xsl:text>
            <xsl:call-template name="text">
              <xsl:with-param name="s" select="/log/type"/>
            </xsl:call-template>
          <xsl:text>, </xsl:text>
          <xsl:value-of select="/log/date"/>
        </title>
        <style>
          html { color: #1b1f24; background: #fff; }
          body { font: 14px/1.4 "Segoe UI", "DejaVu Sans", Helvetica, Arial, sans-serif;
                 margin: 24px 32px; }
          header { border-bottom: 3px solid #1b4f8a; padding-bottom: 10px; margin-bottom: 16px; }
          .kind { text-transform: uppercase; letter-spacing: .08em; font-size: 12px;
                  color: #5a6470; }
          h1 { font-size: 26px; margin: 2px 0; overflow-wrap: anywhere; }
          .when { font-size: 15px; color: #333; }
          .cards { display: flex; flex-wrap: wrap; gap: 12px; margin: 0 0 18px; }
          .card { border: 1px solid #c9d1da; border-radius: 4px; padding: 6px 14px;
                  min-width: 90px; }
          .card .label { font-size: 12px; color: #5a6470; }
          .card .value { font-size: 20px; font-weight: 600; text-align: right;
                         font-variant-numeric: tabular-nums; }
          .card.total { border: 2px solid #1b4f8a; }
          .card.total .value { font-size: 26px; color: #1b4f8a; }
          .note { font-size: 12px; color: #5a6470; margin: 2px 0 0; }
          h2 { font-size: 16px; margin: 18px 0 6px; }
          .groups { display: flex; flex-wrap: wrap; gap: 12px 32px; align-items: flex-start; }
          table { border-collapse: collapse; }
          th, td { padding: 3px 10px; border-bottom: 1px solid #dde3ea; vertical-align: top;
                   text-align: left; }
          thead th { border-bottom: 2px solid #1b4f8a; font-size: 12px;
                     text-transform: uppercase; letter-spacing: .05em; color: #333; }
          tbody tr:nth-child(even) { background: #f4f6f9; }
          tfoot td { border-top: 2px solid #1b4f8a; border-bottom: 0; font-weight: 600; }
          .num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
          td.stamp { white-space: nowrap; font-variant-numeric: tabular-nums; }
          .doc { overflow-wrap: anywhere; }
          table.jobs { width: 100%; }
          .none { color: #8a939c; font-style: italic; }
          .empty { font-size: 16px; color: #5a6470; padding: 12px 0; }
          @media print {
            body { margin: 0; font-size: 11pt; }
            tbody tr:nth-child(even) { background: none; }
            thead { display: table-header-group; }
            tr { break-inside: avoid; }
          }
        </style>
      </head>
      <body>
        <xsl:call-template name="heading"/>
        <xsl:call-template name="summary"/>
        <xsl:choose>
          <xsl:when test="$jobs">
            <div class="groups">
              <xsl:call-template name="subtotals">
                <xsl:with-param name="field" select="'user'"/>
                <xsl:with-param name="leaders" select="$userLeaders"/>
                <xsl:with-param name="title" select="'Per user'"/>
                <xsl:with-param name="header" select="'User'"/>
                <xsl:with-param name="all" select="'All users'"/>
              </xsl:call-template>
              <xsl:call-template name="subtotals">
                <xsl:with-param name="field" select="'printer'"/>
                <xsl:with-param name="leaders" select="$printerLeaders"/>
                <xsl:with-param name="title" select="'Per printer'"/>
                <xsl:with-param name="header" select="'Printer'"/>
                <xsl:with-param name="all" select="'All printers'"/>
              </xsl:call-template>
            </div>
            <xsl:call-template name="job-table"/>
          </xsl:when>
          <xsl:otherwise>
            <p class="empty" id="no-jobs">No jobs</p>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <xsl:template name="heading">
    <header>
      <div class="kind">
        <xsl:choose>
          <xsl:when test="$isGlobal">Print report, all printers</xsl:when>
          <xsl:otherwise>Daily print log</xsl:otherwise>
        </xsl:choose>
      </div>
      <h1 id="printer">
          <xsl:call-template name="text">
            <xsl:with-param name="s" select="/log/type"/>
          </xsl:call-template>
      </h1>
      <div class="when" id="date">
        <xsl:if test="$isGlobal">Built on </xsl:if>
        <xsl:value-of select="/log/date"/>
        <xsl:if test="$isGlobal and $jobs">
          <xsl:text>, jobs of </xsl:text>
          <xsl:for-each select="$jobs">
            <xsl:sort select="date"/>
            <xsl:if test="position() = 1"><xsl:value-of select="date"/></xsl:if>
            <xsl:if test="position() = last()">
              <xsl:text> to </xsl:text><xsl:value-of select="date"/>
            </xsl:if>
          </xsl:for-each>
        </xsl:if>
      </div>
    </header>
  </xsl:template>

  <xsl:template name="summary">
    <div class="cards">
      <div class="card total">
        <div class="label">Total cost</div>
        <div class="value" id="total">
          <xsl:choose>
            <xsl:when test="$totalEntry">
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="$totalEntry/cost"/>
                </xsl:call-template>
            </xsl:when>
            <xsl:otherwise>
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="$jobCost"/>
                </xsl:call-template>
            </xsl:otherwise>
          </xsl:choose>
        </div>
      </div>
      <div class="card">
        <div class="label">Pages</div>
        <div class="value" id="pages">
            <xsl:call-template name="num">
              <xsl:with-param name="n" select="$jobPages"/>
            </xsl:call-template>
        </div>
      </div>
      <xsl:if test="$told">
        <xsl:call-template name="split-cards"/>
      </xsl:if>
      <div class="card">
        <div class="label">Jobs</div>
        <div class="value" id="jobs"><xsl:value-of select="count($jobs)"/></div>
      </div>
      <div class="card">
        <div class="label">Users</div>
        <div class="value" id="users">
          <xsl:value-of select="count($userLeaders)"/>
        </div>
      </div>
      <xsl:if test="$isGlobal">
        <div class="card">
          <div class="label">Printers</div>
          <div class="value" id="printers">
            <xsl:value-of select="count($printerLeaders)"/>
          </div>
        </div>
      </xsl:if>
    </div>
    <!-- A global log's total adds up the daily files' totals, which need not
         match the entries gathered from them. -->
    <xsl:choose>
      <xsl:when test="not($totalEntry)">
        <p class="note" id="no-total-entry">The log holds no total; the total shown is the sum of
          the jobs listed.</p>
      </xsl:when>
      <xsl:when test="not(number($totalEntry/cost) = $jobCost)">
        <p class="note" id="job-sum">The total is the one recorded in the log. The costs of the
          jobs listed add up to
            <xsl:call-template name="num">
              <xsl:with-param name="n" select="$jobCost"/>
            </xsl:call-template>
          <xsl:text>.</xsl:text></p>
      </xsl:when>
    </xsl:choose>
  </xsl:template>

  <!-- One subtotal table, grouped by the job entries' child element $field;
       the largest cost first. -->
  <xsl:template name="subtotals">
    <xsl:param name="field"/>
    <xsl:param name="leaders"/>
    <xsl:param name="title"/>
    <xsl:param name="header"/>
    <xsl:param name="all"/>
    <section>
      <h2><xsl:value-of select="$title"/></h2>
      <table class="subtotals" id="by-{$field}">
        <thead>
          <tr>
            <th><xsl:value-of select="$header"/></th>
            <th class="num">Jobs</th><th class="num">Pages</th><th class="num">Cost</th>
            <xsl:if test="$told">
              <th class="num">Colour</th><th class="num">Mono</th>
              <xsl:if test="$untoldPages &gt; 0"><th class="num">Not told apart</th></xsl:if>
            </xsl:if>
          </tr>
        </thead>
        <tbody>
          <xsl:for-each select="$leaders">
            <xsl:sort select="sum(key($field, string(*[name() = $field]))
                                  /cost[number(.) = number(.)])"
                      data-type="number" order="descending"/>
            <xsl:sort select="string(*[name() = $field])"/>
            <xsl:variable name="group" select="key($field, string(*[name() = $field]))"/>
            <tr>
              <td>
                  <xsl:call-template name="text">
                    <xsl:with-param name="s" select="string(*[name() = $field])"/>
                  </xsl:call-template>
              </td>
              <td class="num"><xsl:value-of select="count($group)"/></td>
              <td class="num">
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="sum($group/pages[number(.) = number(.)])"/>
                </xsl:call-template>
              </td>
              <td class="num">
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="sum($group/cost[number(.) = number(.)])"/>
                </xsl:call-template>
              </td>
              <xsl:call-template name="split-cells">
                <xsl:with-param name="group" select="$group"/>
              </xsl:call-template>
            </tr>
          </xsl:for-each>
        </tbody>
        <tfoot>
          <tr>
            <td><xsl:value-of select="$all"/></td>
            <td class="num"><xsl:value-of select="count($jobs)"/></td>
            <td class="num">
              <xsl:call-template name="num">
                <xsl:with-param name="n" select="$jobPages"/>
              </xsl:call-template>
            </td>
            <td class="num">
              <xsl:call-template name="num">
                <xsl:with-param name="n" select="$jobCost"/>
              </xsl:call-template>
            </td>
            <xsl:call-template name="split-cells">
              <xsl:with-param name="group" select="$jobs"/>
            </xsl:call-template>
          </tr>
        </tfoot>
      </table>
    </section>
  </xsl:template>

  <xsl:template name="job-table">
    <h2>Jobs, newest first</h2>
    <table class="jobs" id="job-list">
      <thead>
        <tr>
          <th>Date</th><th>Time</th><th>User</th><th>Printer</th><th>Document</th>
          <th class="num">Pages</th><th class="num">Cost</th>
          <xsl:if test="$told">
            <th class="num">Copies</th><th class="num">Colour</th><th class="num">Mono</th>
            <th>Sides</th><th>Paper</th><th>Client</th><th>Colour counted by</th>
          </xsl:if>
        </tr>
      </thead>
      <tbody>
        <xsl:for-each select="$jobs">
          <tr>
            <td class="stamp"><xsl:value-of select="date"/></td>
            <td class="stamp"><xsl:value-of select="time"/></td>
            <td>
              <xsl:call-template name="text">
                <xsl:with-param name="s" select="string(user)"/>
              </xsl:call-template>
            </td>
            <td>
              <xsl:call-template name="text">
                <xsl:with-param name="s" select="string(printer)"/>
              </xsl:call-template>
            </td>
            <td class="doc">
              <xsl:call-template name="text">
                <xsl:with-param name="s" select="string(doc)"/>
              </xsl:call-template>
            </td>
            <td class="num">
              <xsl:call-template name="num">
                <xsl:with-param name="n" select="pages"/>
              </xsl:call-template>
            </td>
            <td class="num">
              <xsl:call-template name="num">
                <xsl:with-param name="n" select="cost"/>
              </xsl:call-template>
            </td>
            <!-- An entry without details leaves its cells empty. -->
            <xsl:if test="$told">
              <td class="num"><xsl:value-of select="copies"/></td>
              <td class="num">
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="colorpages"/>
                </xsl:call-template>
              </td>
              <td class="num">
                <xsl:call-template name="num">
                  <xsl:with-param name="n" select="monopages"/>
                </xsl:call-template>
              </td>
              <td><xsl:value-of select="sides"/></td>
              <td><xsl:value-of select="paper"/></td>
              <td><xsl:value-of select="client"/></td>
              <td><xsl:value-of select="colorfrom"/></td>
            </xsl:if>
          </tr>
        </xsl:for-each>
      </tbody>
    </table>
  </xsl:template>

  <!-- The colour, mono and not told apart pages of the log, as cards. -->
  <xsl:template name="split-cards">
    <div class="card">
      <div class="label">Colour</div>
      <div class="value" id="color-pages">
        <xsl:call-template name="num">
          <xsl:with-param name="n" select="sum($told/colorpages[number(.) = number(.)])"/>
        </xsl:call-template>
      </div>
    </div>
    <div class="card">
      <div class="label">Mono</div>
      <div class="value" id="mono-pages">
        <xsl:call-template name="num">
          <xsl:with-param name="n" select="sum($told/monopages[number(.) = number(.)])"/>
        </xsl:call-template>
      </div>
    </div>
    <xsl:if test="$untoldPages &gt; 0">
      <div class="card">
        <div class="label">Not told apart</div>
        <div class="value" id="untold-pages">
          <xsl:call-template name="num">
            <xsl:with-param name="n" select="$untoldPages"/>
          </xsl:call-template>
        </div>
      </div>
    </xsl:if>
  </xsl:template>

  <!-- The colour, mono and not told apart pages of a group's jobs, where the
       log tells any. -->
  <xsl:template name="split-cells">
    <xsl:param name="group"/>
    <xsl:if test="$told">
      <td class="num">
        <xsl:call-template name="num">
          <xsl:with-param name="n" select="sum($group/colorpages[number(.) = number(.)])"/>
        </xsl:call-template>
      </td>
      <td class="num">
        <xsl:call-template name="num">
          <xsl:with-param name="n" select="sum($group/monopages[number(.) = number(.)])"/>
        </xsl:call-template>
      </td>
      <xsl:if test="$untoldPages &gt; 0">
        <td class="num">
          <xsl:call-template name="num">
            <xsl:with-param name="n"
                            select="sum($group[not(colorpages)]/pages[number(.) = number(.)])"/>
          </xsl:call-template>
        </td>
      </xsl:if>
    </xsl:if>
  </xsl:template>

  <!-- An integer with grouped thousands; text that is no number as it stands. -->
  <xsl:template name="num">
    <xsl:param name="n"/>
    <xsl:choose>
      <xsl:when test="number($n) = number($n)">
        <xsl:value-of select="format-number($n, '#&#x202F;##0', 'pelko')"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$n"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A name from the spooler. The agent writes the Windows ANSI bytes as they
       come under an ISO-8859-1 declaration, so 0x80-0x9F arrive as invisible
       control characters: show them as the Windows-1252 signs they stand for
       (euro, dashes, quotes...). An empty name is marked as such. -->
  <xsl:template name="text">
    <xsl:param name="s"/>
    <xsl:choose>
      <xsl:when test="string($s) = ''"><span class="none">(none)</span></xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="translate($s,
          concat('&#x80;&#x82;&#x83;&#x84;&#x85;&#x86;&#x87;&#x88;&#x89;&#x8A;&#x8B;&#x8C;&#x8E;',
                 '&#x91;&#x92;&#x93;&#x94;&#x95;&#x96;&#x97;&#x98;&#x99;&#x9A;&#x9B;&#x9C;',
                 '&#x9E;&#x9F;'),
          concat('&#x20AC;&#x201A;&#x192;&#x201E;&#x2026;&#x2020;&#x2021;&#x2C6;&#x2030;',
                 '&#x160;&#x2039;&#x152;&#x17D;',
                 '&#x2018;&#x2019;&#x201C;&#x201D;&#x2022;&#x2013;&#x2014;&#x2DC;&#x2122;',
                 '&#x161;&#x203A;&#x153;', '&#x17E;&#x178;'))"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

</xsl:stylesheet>
