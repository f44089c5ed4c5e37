<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/">
    <html>
      <head>
        <meta charset="utf-8"/>
        <link rel="stylesheet" href="announcement.css"/>
      </head>
      <body>
        <h1><xsl:value-of select="Diapositive/Title"/></h1>
        <xsl:for-each select="Diapositive/Line">
          <p><xsl:value-of select="."/></p>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
