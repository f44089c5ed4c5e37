<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/">
    <xsl:if test="not(Diapositive/Line)">
      <xsl:message terminate="yes">A text slide needs a Line</xsl:message>
    </xsl:if>
    <html>
      <head><link rel="stylesheet" href="text.css"/></head>
      <body><p><xsl:value-of select="Diapositive/Line"/></p></body>
    </html>
  </xsl:template>
</xsl:stylesheet>
